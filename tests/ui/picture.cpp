// Takes a picture of a dialog as the running program shows it, on the X display:
//   ui_picture <agreement|version> <installation folder> <file.png>
// The installation is a staged one (program, conf tree); the dialog is shown with the
// installation's settings and language, grabbed from the screen and saved as PNG.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "app/application.h"
#include "ui/aboutdialog.h"
#include "ui/uisetup.h"
#include "ui/licensedialog.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: ui_picture <agreement|version> <installation folder> <file.png>\n");
        return 2;
    }
    int qtArgc = 1;
    auto qtApp = uisetup::MakeQtApp(qtArgc, argv);
    QString dir = QString::fromLocal8Bit(argv[2]);
    if (!dir.endsWith(u'/')) dir += u'/';
    CZarntoolApp::Options options;
    options.appDir = dir;
    options.exeName = QStringLiteral("zarntool");
    CZarntoolApp app(options);
    app.m_szAppDir = dir;
    app.m_clLog.m_sLogPath = QDir::tempPath() + QStringLiteral("/ui_picture.log");
    app.m_pszProfileName = dir + QStringLiteral("conf/zarntool.ini");
    const QString lang = app.GetProfileString(QStringLiteral("APPLICATION"), QStringLiteral("LANG"));
    CResourceSet set;
    if (set.Load(dir + QStringLiteral("conf/langs/") + lang + QStringLiteral("/lang.json")) ==
        CResourceSet::LoadStatus::Loaded)
        app.SetLanguageResources(set);
    app.m_csLicensePath = dir + QStringLiteral("conf/langs/") + lang + QStringLiteral("/license.rtf");
    uisetup::PrepareUi(app);

    std::unique_ptr<CDialogEx> dlg;
    if (qstrcmp(argv[1], "agreement") == 0) dlg = std::make_unique<CZarnlicenseDlg>(app);
    else if (qstrcmp(argv[1], "version") == 0) dlg = std::make_unique<CAboutDlg>(app);
    else return 2;
    const QString out = QString::fromLocal8Bit(argv[3]);
    bool saved = false;
    QTimer::singleShot(700, [&] {
        const QPixmap picture = dlg->screen()->grabWindow(dlg->winId());
        saved = !picture.isNull() && picture.save(out, "PNG");
        dlg->EndDialog(IDCANCEL);
    });
    dlg->DoModal();
    return saved ? 0 : 1;
}
