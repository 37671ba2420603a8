#pragma once
// What the program's start-up needs from the user-interface layer: the Qt application object,
// the preparation and release of the widgets around the run, and the framework's own box.
#include <QCoreApplication>
#include <QString>
#include <memory>

class CAppServices;

namespace uisetup {

// True when a window can be shown: a platform plug-in is named (QT_QPA_PLATFORM), a Wayland
// display is given, or the X display given answers.
bool DisplayAvailable();
// True when the Qt application object can make widgets.
bool WidgetsAvailable();
// A QApplication with the Japanese dialog font as its font and the program icon; without a
// display a QCoreApplication, so that start-up runs and ends cleanly instead of aborting.
std::unique_ptr<QCoreApplication> MakeQtApp(int& argc, char** argv);
// Before the run: the widget style the dialogs are drawn in.
void PrepareUi(CAppServices& app);
// After the run: closes what the run left open.
void ReleaseUi(CAppServices& app);
// The framework's own message box (OK button, warning icon), not logged; without widgets its
// text goes to standard error.
void FrameworkMessage(const QString& caption, const QString& text);

}  // namespace uisetup
