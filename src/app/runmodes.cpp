#include "app/runmodes.h"

#include "app/commandline.h"
#include "app/application.h"
#include "policy/policylistmanager.h"
#include "ui/dialog/dialogex.h"
#include "ui/dialog/waitcursor.h"
#include "ui/licensedialog.h"
#include "ui/progressdialog.h"
#include "ui/uisetup.h"
#include "resids.h"

namespace runmodes {

void Run(CZarntoolApp& app, const CZarnCommandLineInfo& cmd, const MainWindowFactory& mainWindow) {
    CAppLog& log = app.m_clLog;
    if (!uisetup::WidgetsAvailable()) {
        // No display: the terms of use cannot be shown, so neither mode may run.
        log.TraceValue(QStringLiteral("QApplication"), QStringLiteral("FALSE"));
        log.ShowMessageId(strid::kNoDisplay, LOG_FATAL);
        return;
    }
    int nResponseLicense = -1;
    {
        CZarnlicenseDlg dlg(app);
        nResponseLicense = dlg.DoModal();
    }
    if (nResponseLicense == IDOK) {
        log.TraceValue(QStringLiteral("nResponseLicense"), QStringLiteral("IDOK"));
        if (cmd.m_bOptionE) {
            log.TraceValue(QStringLiteral("m_bOptionE"), QStringLiteral("TRUE"));
            RunEditor(app, mainWindow);
        } else {
            ApplyPolicyTable(app);
        }
    } else if (nResponseLicense == IDCANCEL) {
        log.TraceValue(QStringLiteral("nResponseLicense"), QStringLiteral("IDCANCEL"));
    }
    // Any other result: the dialog could not be shown; nothing is done.
}

void RunEditor(CZarntoolApp& app, const MainWindowFactory& mainWindow) {
    std::unique_ptr<CDialogEx> dlg = mainWindow ? mainWindow(app) : nullptr;
    if (!dlg) {
        app.m_clLog.TraceValue(QStringLiteral("CZarntoolDlg"), QStringLiteral("unavailable"));
        return;
    }
    // The window does not exist yet: boxes stay ownerless until it makes itself the owner.
    app.m_clLog.m_hOwnerWnd = nullptr;
    app.m_pMainWnd = dlg.get();
    dlg->DoModal();
    app.m_pMainWnd = nullptr;
    app.m_clLog.m_hOwnerWnd = nullptr;
    dlg.reset();
}

int ApplyPolicyTable(CZarntoolApp& app) {
    bool applied = false;
    {
        CWaitCursor wait;
        CPolicyListManager manager;
        const auto registration = [&](const CPolicyList& rows,
                                      CPolicyListManager::ERestore* restore) {
            return progress::RunWithProgress(app, nullptr, CProgressDlg::EKind::Register,
                                             [&](CWorkerJob& job) {
                                                 job.Attach(manager);
                                                 return manager.RegisterPolicy(rows, restore);
                                             });
        };
        applied = manager.InstallPolicyFile({}, registration, [&] { wait.Restore(); }) ==
                  CPolicyListManager::EInstall::Installed;
    }
    if (applied) app.m_clLog.ShowMessageId(strid::kApplyDone, LOG_DEBUG);
    return applied ? 1 : 0;
}

}  // namespace runmodes
