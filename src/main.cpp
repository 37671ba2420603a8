// Corvane: edits the IPv6 default-address-selection policy table and installs it.
#include "app/zarntoolapp.h"

int main(int argc, char** argv) {
    CZarntoolApp app;
    app.InitInstance(argc, argv);
    app.ExitInstance();
    return 0;
}
