// Reading the operating system's policy table: CPolicyListManager::GetCurrent and
// CPolicyListManager::ConvertToPolicy.
#include "services/appservices.h"
#include "ostable/oscommands.h"
#include "policy/policylistmanager.h"
#include "resids.h"

namespace {

const QString kClass = QStringLiteral("CPolicyListManager");

// The settings key that names a well-known prefix, compared as printed without regard to case.
QString NetworkNameKey(const QString& prefix) {
    static const struct {
        const char16_t* prefix;
        const char16_t* key;
    } kKnown[] = {
        {u"::1/128", u"NETWORK_NAME_LOOPBACK"}, {u"::/0", u"NETWORK_V6"},
        {u"2002::/16", u"NETWORK_6TO4"},        {u"::/96", u"NETWORK_V4COMPATIBLE"},
        {u"::ffff:0:0/96", u"NETWORK_V4MAP"},   {u"2001::/32", u"NETWORK_TEREDO"},
    };
    for (const auto& k : kKnown) {
        if (prefix.compare(QStringView(k.prefix), Qt::CaseInsensitive) == 0) return QString::fromUtf16(k.key);
    }
    return QStringLiteral("NETWORK_UNKNOWN");
}

// Each run of blanks becomes one tab; every other character, a tab included, is kept.
QString CollapseBlanks(const QString& line) {
    QString out;
    out.reserve(line.size());
    bool inRun = false;
    for (const QChar c : line) {
        if (c == u' ') {
            if (!inRun) out += u'\t';
            inRun = true;
        } else {
            out += c;
            inRun = false;
        }
    }
    return out;
}

}  // namespace

int CPolicyListManager::GetCurrent(CPolicyList& list) { return ReadCurrent(list, true); }

// The listing read; a failure shows message 517 when `showFailure` is set, and is only logged
// otherwise.
int CPolicyListManager::ReadCurrent(CPolicyList& list, bool showFailure) {
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("GetCurrent"));

    const QString command = m_csNetshPrefix + ostable::ShowSubcommand(ostable::ClassifyOs(ostable::ReadOsSetting(m_pApp)));
    log.AppendLog(LOG_INFO, command);
    const QString result = ExecuteCommand(command);
    const bool read = result.compare(u"NG", Qt::CaseInsensitive) != 0 && ConvertToPolicy(result, list);
    if (!read) {
        log.TraceValue(QStringLiteral("csResult"), result);
        if (showFailure)
            log.ShowMessageFormat({command}, strid::kListingUnreadable, LOG_ERROR);
        else
            log.LogFormat({command}, strid::kListingUnreadable, LOG_ERROR);
        return 0;
    }
    log.TraceEnd(kClass, QStringLiteral("GetCurrent"));
    return 1;
}

// Four heading lines, then one line per entry: precedence, label and prefix separated by blanks.
// Blank lines are skipped; any other shape, or an entry whose values the editor would not
// accept, fails the read (rows before it stay appended): a table that cannot be read exactly
// is never changed.
int CPolicyListManager::ConvertToPolicy(const QString& output, CPolicyList& list) {
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("ConvertToPolicy"));
    log.TraceValue(QStringLiteral("csResult"), output);

    const QStringList lines = SplitString(output, QStringLiteral("\n"));
    if (lines.size() < 4) {
        log.TraceValue(QStringLiteral("GetCount(hOutputRead)"), QStringLiteral("<4"));
        return 0;
    }
    if (output.compare(u"NG", Qt::CaseInsensitive) == 0) {
        log.TraceValue(QStringLiteral("csResult"), output);
        return 0;
    }

    for (qsizetype i = 4; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty()) continue;
        const QStringList columns = SplitString(CollapseBlanks(line), QStringLiteral("\t"));
        if (columns.size() != 3) {
            log.LogFormat({QStringLiteral("csaItemList.GetCount"), QStringLiteral("!3")}, strid::kTraceValue, LOG_DEBUG);
            return 0;
        }
        CPolicy row;
        row.m_pApp = m_pApp;
        row.m_bDisabled = false;
        row.m_nSource = 2;
        row.m_csPriority = columns[0];
        row.m_csLabel = columns[1];
        row.m_csAddress = columns[2];
        bool valid = false;
        {
            const CAppLog::CQuietTrace quiet;  // only a refused entry gets a line
            valid = row.ValidateFields() != 0;
        }
        if (!valid) {
            log.LogFormat({QStringLiteral("csInvalidEntry"), line}, strid::kTraceValue, LOG_DEBUG);
            return 0;
        }
        row.m_csNetworkName =
            m_pApp->GetProfileString(QStringLiteral("DEFAULT"), NetworkNameKey(columns[2]), QString());
        list.append(row);
    }
    log.TraceEnd(kClass, QStringLiteral("ConvertToPolicy"));
    return 1;
}
