// Installing a table in the operating system: CPolicyListManager::RemoveAllPolicy,
// CPolicyListManager::AddPolicy and the prefix division CPolicyListManager::DividePolicy.
#include <algorithm>

#include "services/appservices.h"
#include "ostable/oscommands.h"
#include "policy/policylistmanager.h"
#include "resids.h"

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

namespace ostable {

void DivideRow(CAppLog& log, const CPolicy& row, CPolicyList& result) {
    const int n = row.GetPrefixLen();
    if (n == -1) {
        log.TraceValue(QStringLiteral("iPrefixLen"), QStringLiteral("-1"));
        return;
    }
    if (n % 8 == 0) {
        log.TraceValue(QStringLiteral("iPrefixLen % 8"), QStringLiteral("0"));
        result.append(row);
        return;
    }
    if (n < 0 || n > 128) {
        log.TraceValue(QStringLiteral("iPrefixLen"), QString::number(n));
        result.append(row);
        return;
    }
    log.TraceValue(QStringLiteral("iPrefixLen % 8"), QStringLiteral("!0"));

    const int next = 8 * (n / 8) + 8;
    IPv6Bytes prefix{};
    if (!row.GetPrefix(prefix)) {
        log.TraceValue(QStringLiteral("GetPrefix"), QStringLiteral("FALSE"));
        return;
    }
    // Bits n to next-1 are the low (next - n) bits of byte n / 8.
    const int bits = next - n;
    const int byteIndex = n / 8;
    const std::uint8_t mask = std::uint8_t((1u << bits) - 1u);
    for (unsigned j = 0; j < (1u << bits); ++j) {
        IPv6Bytes part = prefix;
        part[byteIndex] = std::uint8_t((part[byteIndex] & ~mask) | j);
        const QString text = LongForm(part, next);
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

}  // namespace ostable

int CPolicyListManager::RunRowCommands(const CPolicyList& rows, bool isDelete, EOnFailure onFailure) {
    CAppLog& log = m_pApp->m_clLog;
    const ostable::EOsKind kind = ostable::ClassifyOs(ostable::ReadOsSetting(m_pApp));
    const QString commandTemplate = isDelete ? ostable::DeleteTemplate(kind) : ostable::AddTemplate(kind);
    // The text the system prints for an entry that is not there: the entry is already gone.
    const QString notFound = isDelete ? m_pApp->LoadString(strid::kFileNotFound).trimmed() : QString();
    int failures = 0;
    for (const CPolicy& row : rows) {
        if (onFailure == EOnFailure::StopAndShow && CancelRequested()) {
            log.TraceValue(QStringLiteral("bCancel"), QStringLiteral("TRUE"));
            return -1;
        }
        const QStringList words = isDelete ? QStringList{row.m_csAddress}
                                           : QStringList{row.m_csAddress, row.m_csPriority, row.m_csLabel};
        const QString command = m_csNetshPrefix + ostable::FillTemplate(commandTemplate, words.join(u' '));
        // A text that would not stay one word never reaches the command line.
        const bool wordsOk = std::all_of(words.begin(), words.end(), ostable::IsSingleWord);
        if (m_command) m_command(command);
        const QString result = wordsOk ? ExecuteCommand(command) : QStringLiteral("NG");
        if (ReportCommand(command, isDelete, result, onFailure, notFound) == 0) continue;
        ++failures;
        if (onFailure == EOnFailure::StopAndShow) return failures;
    }
    return failures;
}

int CPolicyListManager::ReportCommand(const QString& command, bool isDelete, const QString& result,
                                      EOnFailure onFailure, const QString& notFound) {
    CAppLog& log = m_pApp->m_clLog;
    if (m_nProgressTotal > 0) {
        ++m_nProgressDone;
        if (m_progress) m_progress(m_nProgressDone, m_nProgressTotal);
    }
    log.AppendLog(LOG_INFO, command);
    if (isDelete) log.TraceValue(QStringLiteral("csResult"), result);
    if (isDelete && !notFound.isEmpty() && ostable::OutputIs(result, notFound)) {
        log.LogFormat({command}, strid::kCommandFailed, LOG_INFO);
        return 0;
    }
    if (ostable::OutputIs(result, QStringLiteral("OK"))) return 0;
    log.TraceValue(QStringLiteral("csResult"), result);
    if (onFailure == EOnFailure::StopAndShow)
        log.ShowMessageFormat({command}, strid::kCommandFailed, LOG_ERROR);
    else
        log.LogFormat({command}, strid::kCommandFailed, LOG_ERROR);
    return 1;
}

int CPolicyListManager::RemoveAllPolicy() {
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("RemoveAllPolicy"));
    CPolicyList clPolicy;
    if (!GetCurrent(clPolicy)) {
        log.TraceValue(QStringLiteral("GetCurrent(&clPolicy)"), QStringLiteral("FALSE"));
        return 0;
    }
    if (RunRowCommands(clPolicy, true, EOnFailure::StopAndShow) != 0) return 0;
    log.TraceEnd(kClass, QStringLiteral("RemoveAllPolicy"));
    return 1;
}

int CPolicyListManager::AddPolicy(CPolicyList& list) {
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("AddPolicy"));
    DividePolicy(list);
    if (RunRowCommands(list, false, EOnFailure::StopAndShow) != 0) return 0;
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
    for (const CPolicy& row : list) ostable::DivideRow(log, row, result);
    list = result;
    log.TraceEnd(kClass, QStringLiteral("DividePolicy"));
    return 1;
}
