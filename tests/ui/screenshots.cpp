// Writes pictures of the program's windows for the documentation: renders each window off
// screen and saves it as PNG into the folder given as the first argument.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include "support/testsupport.h"
#include "ui/helpwindow.h"
#include "ui/zarnpropdlg.h"

namespace {

bool Save(QWidget* widget, const QString& path) {
    widget->show();
    QApplication::processEvents();
    const bool ok = widget->grab().save(path);
    fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    bool ok = true;

    CHelpWindow help;
    help.OpenFile(QStringLiteral(CORVANE_STAGE_DIR "/conf/langs/Japanese/help.chm"));
    help.ShowTopic(QStringLiteral("/menu.html"));
    ok &= Save(&help, out + QStringLiteral("/help-window.png"));

    testsupport::CTestApp t;
    t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("ADDRESS"), QStringLiteral("policy.example.jp"));
    CZarnpropDlg prop;
    prop.Create();
    ok &= Save(&prop, out + QStringLiteral("/settings-dialog.png"));

    return ok ? 0 : 1;
}
