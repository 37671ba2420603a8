#include "ui/uisetup.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QStyleFactory>

#include "platform/display.h"
#include "services/applog.h"
#include "services/resourceset.h"
#include "services/appservices.h"
#include "ui/dialog/dialogex.h"
#include "resids.h"

namespace uisetup {

bool DisplayAvailable() {
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    // An X display that is named but does not answer counts as none: Qt would abort on it.
    const QString display = qEnvironmentVariable("DISPLAY");
    return !display.isEmpty() && platform::XDisplayReachable(display);
}

bool WidgetsAvailable() { return qobject_cast<QApplication*>(QCoreApplication::instance()); }

std::unique_ptr<QCoreApplication> MakeQtApp(int& argc, char** argv) {
    // Without a display a QApplication would abort the process; start-up then runs without
    // windows and its message boxes go to standard error.
    if (!DisplayAvailable()) return std::make_unique<QCoreApplication>(argc, argv);
    auto app = std::make_unique<QApplication>(argc, argv);
    QFont font(CDialogEx::JapaneseFontFamily());
    font.setPixelSize(12);  // 9 pt at 96 dots per inch, the size of the main window's font
    QApplication::setFont(font);
    const QString icon = CResourceSet::ProgramSet().IconPath(IDR_MAINFRAME);
    if (!icon.isEmpty()) QApplication::setWindowIcon(QIcon(icon));
    return app;
}

void PrepareUi(CAppServices& app) {
    if (!WidgetsAvailable()) return;
    // One look on every desktop, independent of the platform theme.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(style);
    // Menus, lists and message boxes take the language's font: the main window template's.
    if (const CDialogTemplate* main = app.Resources().Dialog(IDD_ZARNTOOL_DIALOG))
        QApplication::setFont(CDialogEx::TemplateFont(*main));
}

void ReleaseUi(CAppServices& app) {
    app.m_pMainWnd = nullptr;
    app.m_clLog.m_hOwnerWnd = nullptr;
    if (WidgetsAvailable()) QApplication::closeAllWindows();
}

void FrameworkMessage(const QString& caption, const QString& text) {
    if (!WidgetsAvailable()) {
        DebugOutput(caption + QStringLiteral(": ") + text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok);
    box.exec();
}

}  // namespace uisetup
