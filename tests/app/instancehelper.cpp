// Test helper: the application's start-up in a process of its own.
//   instancehelper <program folder> <lock folder> [command-line words...]
// Runs start-up on the given installation tree; when it reaches the run, prints "running" and
// stays in the run until its standard input closes. Message boxes go to standard error.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>

#include "app/commandline.h"
#include "app/application.h"

int main(int argc, char** argv) {
    QCoreApplication qtApp(argc, argv);
    const QStringList args = qtApp.arguments();
    if (args.size() < 3) return 2;
    CZarntoolApp::Options options;
    options.appDir = args[1];
    options.lockDir = args[2];
    options.exeName = QStringLiteral("zarntool");
    options.run = [](CZarntoolApp& app, const CZarnCommandLineInfo&) {
        app.m_clLog.TraceValue(QStringLiteral("helper"), QStringLiteral("running"));
        std::printf("running\n");
        std::fflush(stdout);
        char buffer[64];
        while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
        }
    };
    CZarntoolApp app(options);
    app.InitInstance(args.mid(3));
    app.ExitInstance();
    return 0;
}
