// Installing a table in the operating system: CPolicyListManager::RemoveAllPolicy,
// CPolicyListManager::AddPolicy and the prefix division CPolicyListManager::DividePolicy.
#include "app/zarntoolapp.h"
#include "ostable/oscommands.h"
#include "policy/policylistmanager.h"

namespace {

const QString kClass = QStringLiteral("CPolicyListManager");

// Eight groups of four lowercase hexadecimal digits, then "/" and the length.
QString LongForm(const IPv6Bytes& bytes, int length) {
    static const char kHex[] = "0123456789abcdef";
    QString text;
    text.reserve(44);
    for (int i = 0; i < 16; ++i) {
        text += QLatin1Char(kHex[bytes[i] >> 4]);
        text += QLatin1Char(kHex[bytes[i] & 0x0F]);
        if (i % 2 == 1 && i != 15) text += u':';
    }
    text += u'/';
    text += QString::number(length);
    return text;
}

}  // namespace

int CPolicyListManager::RemoveAllPolicy() {
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("RemoveAllPolicy"));

    CPolicyList clPolicy;
    if (!GetCurrent(clPolicy)) {
        log.TraceValue(QStringLiteral("GetCurrent(&clPolicy)"), QStringLiteral("FALSE"));
        return 0;
    }
    const QString commandTemplate = ostable::DeleteTemplate(ostable::ClassifyOs(ostable::ReadOsSetting(m_pApp)));
    // The text the system prints for an entry that is not there: the entry is already gone.
    const QString notFound = m_pApp->LoadString(700).trimmed();

    for (const CPolicy& row : clPolicy) {
        const QString command = m_csNetshPrefix + ostable::FillTemplate(commandTemplate, row.m_csAddress);
        const QString result = ExecuteCommand(command);
        log.AppendLog(LOG_INFO, command);
        log.TraceValue(QStringLiteral("csResult"), result);
        if (!notFound.isEmpty() && ostable::OutputIs(result, notFound)) {
            log.LogFormat({command}, 501, LOG_INFO);
            continue;
        }
        if (!ostable::OutputIs(result, QStringLiteral("OK"))) {
            log.TraceValue(QStringLiteral("csResult"), result);
            log.ShowMessageFormat({command}, 501, LOG_ERROR);
            return 0;
        }
    }
    log.TraceEnd(kClass, QStringLiteral("RemoveAllPolicy"));
    return 1;
}

int CPolicyListManager::AddPolicy(CPolicyList& list) {
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("AddPolicy"));

    const QString commandTemplate = ostable::AddTemplate(ostable::ClassifyOs(ostable::ReadOsSetting(m_pApp)));
    DividePolicy(list);

    for (const CPolicy& row : list) {
        const QString arguments = row.m_csAddress + u' ' + row.m_csPriority + u' ' + row.m_csLabel;
        const QString command = m_csNetshPrefix + ostable::FillTemplate(commandTemplate, arguments);
        const QString result = ExecuteCommand(command);
        log.AppendLog(LOG_INFO, command);
        if (!ostable::OutputIs(result, QStringLiteral("OK"))) {
            log.TraceValue(QStringLiteral("csResult"), result);
            log.ShowMessageFormat({command}, 501, LOG_ERROR);
            return 0;
        }
    }
    log.TraceEnd(kClass, QStringLiteral("AddPolicy"));
    return 1;
}

// On Vista and 7 a prefix whose length n is not a multiple of 8 is replaced by the 2^(N-n)
// prefixes of length N, the next multiple of 8, in ascending order of the inserted bits.
// A length outside 0 to 128 (only possible in rows that never passed the validators) is not
// divided: the row goes to the add command as it stands, which rejects it, so the user sees
// message 501 instead of the row vanishing, and no row ever turns into more than 128.
int CPolicyListManager::DividePolicy(CPolicyList& list) {
    if (!m_pApp) return 1;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("DividePolicy"));

    const QString csOS = ostable::ReadOsSetting(m_pApp);
    log.TraceValue(QStringLiteral("csOS"), csOS);
    const ostable::EOsKind kind = ostable::ClassifyOs(csOS);
    if (kind != ostable::EOsKind::Windows7 && kind != ostable::EOsKind::WindowsVista) {
        log.TraceEnd(kClass, QStringLiteral("DividePolicy"));
        return 1;
    }

    CPolicyList result;
    for (const CPolicy& original : list) {
        const CPolicy row(original);
        const int n = row.GetPrefixLen();
        if (n == -1) {
            log.TraceValue(QStringLiteral("iPrefixLen"), QStringLiteral("-1"));
            continue;
        }
        if (n % 8 == 0) {
            log.TraceValue(QStringLiteral("iPrefixLen % 8"), QStringLiteral("0"));
            result.append(row);
            continue;
        }
        if (n < 0 || n > 128) {
            log.TraceValue(QStringLiteral("iPrefixLen"), QString::number(n));
            result.append(row);
            continue;
        }
        log.TraceValue(QStringLiteral("iPrefixLen % 8"), QStringLiteral("!0"));

        const int next = 8 * (n / 8) + 8;
        IPv6Bytes prefix{};
        if (!row.GetPrefix(prefix)) {
            log.TraceValue(QStringLiteral("GetPrefix"), QStringLiteral("FALSE"));
            continue;
        }
        // Bits n to next-1 are the low (next - n) bits of byte n / 8.
        const int bits = next - n;
        const int byteIndex = n / 8;
        const std::uint8_t mask = std::uint8_t((1u << bits) - 1u);
        QStringList csaPrefixDivide;
        for (unsigned j = 0; j < (1u << bits); ++j) {
            IPv6Bytes part = prefix;
            part[byteIndex] = std::uint8_t((part[byteIndex] & ~mask) | j);
            csaPrefixDivide.append(LongForm(part, next));
        }
        for (const QString& text : csaPrefixDivide) {
            log.TraceValue(QStringLiteral("csaPrefixDivide.GetAt(i)"), text);
            CPolicy divided;
            divided.m_pApp = row.m_pApp;
            divided.m_bDisabled = row.m_bDisabled;
            divided.m_nSource = row.m_nSource;
            divided.m_csNetworkName = row.m_csNetworkName;
            divided.m_csLabel = row.m_csLabel;
            divided.m_csPriority = row.m_csPriority;
            divided.m_csAddress = row.FixAddress(text);
            log.TraceValue(QStringLiteral("csAddress"), divided.m_csAddress);
            result.append(divided);
        }
    }
    list = result;
    log.TraceEnd(kClass, QStringLiteral("DividePolicy"));
    return 1;
}
