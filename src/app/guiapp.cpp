#include "app/guiapp.h"

#include "app/runmodes.h"
#include "ui/mainwindow.h"
#include "ui/uisetup.h"

CZarntoolGuiApp::CZarntoolGuiApp() { m_clLog.SetPresenter(&m_presenter); }

void CZarntoolGuiApp::Run(const CZarnCommandLineInfo& cmdInfo) {
    runmodes::Run(*this, cmdInfo,
                  [](CAppServices& services) { return std::make_unique<CZarntoolDlg>(services); });
}

std::unique_ptr<QCoreApplication> CZarntoolGuiApp::MakeQtApp(int& argc, char** argv) {
    return uisetup::MakeQtApp(argc, argv);
}

void CZarntoolGuiApp::PrepareUi() { uisetup::PrepareUi(*this); }

void CZarntoolGuiApp::ReleaseUi() { uisetup::ReleaseUi(*this); }

void CZarntoolGuiApp::FrameworkMessage(const QString& caption, const QString& text) {
    uisetup::FrameworkMessage(caption, text);
}
