// Corvane: edits the IPv6 default-address-selection policy table and installs it.
#include "app/commandline.h"
#include "app/application.h"
#include "ui/dialog/messagepresenter.h"
#include "app/runmodes.h"
#include "ui/uisetup.h"
#include "platform/versionresource.h"
#include "ui/mainwindow.h"

// The program file's version resource.
CORVANE_EMBED_VERSION_RESOURCE();

int main(int argc, char** argv) {
    CQtMessagePresenter presenter;
    CZarntoolApp::Options options;
    options.makeQtApp = uisetup::MakeQtApp;
    options.presenter = &presenter;
    options.prepareUi = uisetup::PrepareUi;
    options.releaseUi = uisetup::ReleaseUi;
    options.frameworkMessage = uisetup::FrameworkMessage;
    options.run = [](CZarntoolApp& app, const CZarnCommandLineInfo& cmd) {
        runmodes::Run(app, cmd, [](CAppServices& services) {
            return std::make_unique<CZarntoolDlg>(services);
        });
    };
    CZarntoolApp app(options);
    app.InitInstance(argc, argv);
    app.ExitInstance();
    // Without a display no window could be shown, so nothing the user came for was done.
    return uisetup::WidgetsAvailable() ? 0 : 1;
}
