// The diagnostic snapshot for the export file: CPolicyListManager::GetCurrentString and
// CPolicyListManager::GetCurrentIpconfigString.
#include "services/appservices.h"
#include "ostable/oscommands.h"
#include "policy/policylistmanager.h"
#include "resids.h"

namespace {

const QString kClass = QStringLiteral("CPolicyListManager");

QString NormaliseLineEnds(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    return text;
}

}  // namespace

QString CPolicyListManager::GetCurrentString() {
    if (!m_pApp) return {};
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("GetCurrentString"));

    const QString command = m_csNetshPrefix + ostable::ShowSubcommand(ostable::ClassifyOs(ostable::ReadOsSetting(m_pApp)));
    const QString output = NormaliseLineEnds(ExecuteCommand(command));
    // A one-line output (the runner's "NG" among them) is not a table listing.
    if (SplitString(output, QStringLiteral("\n")).size() == 1) {
        log.ShowMessageFormat({command}, strid::kListingUnreadable, LOG_ERROR);
        return {};
    }
    log.TraceEnd(kClass, QStringLiteral("GetCurrentString"));
    return u'>' + command + u'\n' + output;
}

QString CPolicyListManager::GetCurrentIpconfigString() {
    if (!m_pApp) return {};
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("GetCurrentIpconfigString"));

    const QString command = QStringLiteral("ipconfig /all");
    const QString output = NormaliseLineEnds(ExecuteCommand(command));
    log.TraceEnd(kClass, QStringLiteral("GetCurrentIpconfigString"));
    return u'>' + command + u'\n' + output;
}
