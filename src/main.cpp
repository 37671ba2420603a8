// Corvane: edits the IPv6 default-address-selection policy table and installs it.
#include "app/guiapp.h"
#include "platform/versionresource.h"
#include "ui/progressdialog.h"
#include "ui/uisetup.h"

// The program file's version resource.
CORVANE_EMBED_VERSION_RESOURCE();

int main(int argc, char** argv) {
    CZarntoolGuiApp app;
    app.InitInstance(argc, argv);
    app.ExitInstance();
    // Closed by a signal during a registration or a fetch: as the signal's own ending would say.
    if (const int signal = progress::EndingSignal()) return progress::kExitSignal + signal;
    // Without a display no window could be shown, so nothing the user came for was done.
    return uisetup::WidgetsAvailable() ? 0 : 1;
}
