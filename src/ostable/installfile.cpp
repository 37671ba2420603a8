// Installing a policy table file: CPolicyListManager::InstallPolicyFile, shared by apply mode
// and corvane's apply and default commands.
#include "services/appservices.h"
#include "platform/fileutil.h"
#include "policy/policylistmanager.h"
#include "resids.h"

CPolicyListManager::EInstall CPolicyListManager::InstallPolicyFile(
    const QString& path, const Registration& registration, const std::function<void()>& beforeBox) {
    if (!m_pApp) return EInstall::FileNotFound;
    CAppLog& log = m_pApp->m_clLog;
    const QString file = path.isEmpty() ? CInstallPaths(m_pApp->m_szAppDir).PolicyTable() : path;
    CPolicyList rows;
    QList<qsizetype> rejected;
    // A folder is "found" but cannot be read, as on Windows.
    if (!platform::FileExists(file) && !platform::DirectoryExists(file)) {
        log.TraceValue(QStringLiteral("FindFile(cs_PolicyTablePath)"), QStringLiteral("FALSE"));
        return EInstall::FileNotFound;
    }
    const int read = path.isEmpty() ? GetStandardPolicyFile(rows, &rejected)
                                    : GetPolicyFile(rows, path, &rejected);
    if (read != 1) {
        log.TraceValue(QStringLiteral("GetCurrentFile(&clPolicyConf)"), QStringLiteral("FALSE"));
        return EInstall::FileNotFound;
    }
    if (!rejected.isEmpty()) {
        // A damaged file says nothing reliable about the table wanted: nothing is changed.
        if (beforeBox) beforeBox();
        log.ShowMessageFormat({QString::number(rejected.first())}, strid::kPolicyFileLineInvalid,
                              LOG_ERROR);
        return EInstall::LineRefused;
    }
    ERestore restore = ERestore::NotNeeded;
    const int registered =
        registration ? registration(rows, &restore) : RegisterPolicy(rows, &restore);
    if (registered != 0) return EInstall::Installed;
    log.TraceValue(QStringLiteral("RegisterPolicy"), QStringLiteral("FALSE"));
    switch (restore) {
    case ERestore::Restored: return EInstall::Restored;
    case ERestore::NotRestored: return EInstall::NotRestored;
    case ERestore::NotNeeded: break;
    }
    return EInstall::NotChanged;
}
