// Writes pictures of the program's windows for the documentation: renders each window off
// screen on a temporary installation and saves it as PNG into the folder given as the first
// argument. Not a test; run it by hand: corvane_screenshots docs
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>

#include "net/loopbackserver.h"
#include "platform/codepage.h"
#include "services/appservices.h"
#include "support/testsupport.h"
#include "ui/dialog/dialogex.h"
#include "ui/helpwindow.h"
#include "ui/progressdialog.h"
#include "ui/licensedialog.h"
#include "ui/settingsdialog.h"
#include "ui/mainwindow.h"
#include "ui/orderdialog.h"
#include "policy/wellknowntables.h"

namespace {

bool SavePixmap(const QPixmap& pixmap, const QString& path) {
    const bool ok = pixmap.save(path);
    fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool Save(QWidget* widget, const QString& path) {
    widget->show();
    QApplication::processEvents();
    return SavePixmap(widget->grab(), path);
}

// The preview runs on this machine: its own addresses and routes decide the sources.
bool SaveOrderWindow(CAppServices& services, const QString& path) {
    CPolicyList rows;
    wellknown::Table(QStringLiteral("rfc6724"), rows);
    COrderDlg order(services, rows);
    order.Create();
    order.m_edHost.setText(QStringLiteral("::1 127.0.0.1 2001:db8::1 192.0.2.1 fd00::1 2002:c000:201::1"));
    order.RunPreview();
    return Save(&order, path);
}

QByteArray ConfLine(const char* line) { return platform::ToCp932(QString::fromUtf8(line)) + "\r\n"; }

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    bool ok = true;
    const QString stage = testsupport::StageDir();
    CChmFile::SetReaderProgram(stage + QStringLiteral("/chmread"));

    // The help window on the menu page.
    {
        CAppServices services;
        CHelpWindow help(services);
        help.OpenFile(stage + QStringLiteral("/conf/langs/Japanese/help.chm"));
        help.ShowTopic(QStringLiteral("/menu.html"));
        ok &= Save(&help, out + QStringLiteral("/help-window.png"));
    }

    testsupport::CTestApp t;
    const QString section = QStringLiteral("APPLICATION");

    // The settings dialog set up for HTTP.
    {
        t.SetSetting(section, QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
        t.SetSetting(section, QStringLiteral("USE_NETWORK"), QStringLiteral("1"));
        t.SetSetting(section, QStringLiteral("ADDRESS"), QStringLiteral("policy.example.jp"));
        CZarnpropDlg prop(t.App());
        prop.Create();
        ok &= Save(&prop, out + QStringLiteral("/settings-dialog.png"));
    }

    // The main window after a fetch from an HTTP server on loopback, with the File menu open.
    {
        QFile::link(stage + QStringLiteral("/netsh"), t.Dir() + QStringLiteral("netsh"));
        qputenv("NETSH_PREFIXPOLICY_FILE", QFile::encodeName(t.Dir() + QStringLiteral("netsh.table")));
        testsupport::WriteFile(t.Dir() + QStringLiteral("conf/policytable.conf"),
                               ConfLine("1,0,Loopback,0,50,::1/128") + ConfLine("1,2,本社LAN,9,45,2001:db8:10::/48") +
                                   ConfLine("1,0,IPv6,1,40,::/0") + ConfLine("1,0,6to4,2,30,2002::/16") +
                                   ConfLine("0,0,Teredo,5,5,2001::/32"));
        nettest::CLoopbackServer server;
        if (!server.Listen()) return 1;
        t.SetSetting(section, QStringLiteral("ADDRESS"), server.Address());
        const QByteArray body = "route-info\r\n1,2001:db8:100::/40\r\n2,2001:db8:200::/40\r\n3,fd00:1234::/32\r\n";
        server.Start([body](int fd, nettest::CLoopbackServer& s) {
            s.ReadRequest(fd);
            nettest::CLoopbackServer::SendAll(
                fd, "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        });
        t.SetSetting(QStringLiteral("HTTP"), QStringLiteral("NETWORK_NAME"), QStringLiteral("配布ポリシ"));
        t.SetSetting(QStringLiteral("HTTP"), QStringLiteral("PRIORITY"), QStringLiteral("35"));
        t.SetSetting(QStringLiteral("HTTP"), QStringLiteral("LABEL"), QStringLiteral("12"));

        CZarntoolDlg dlg(t.App());
        dlg.Create();
        dlg.show();
        QApplication::processEvents();
        dlg.SendCommand(ID_FILE_GETNETWORK);
        dlg.m_listPolicy.SetCheck(3, true);  // the first fetched row, ticked for registration
        QApplication::processEvents();
        server.Stop();
        ok &= Save(&dlg, out + QStringLiteral("/main-window-fetched.png"));

        // The File popup drawn over the window below its title in the menu bar.
        QMenuBar* bar = dlg.GetMenu();
        QAction* file = bar ? bar->actions().value(0) : nullptr;
        if (file && file->menu()) {
            QMenu* menu = file->menu();
            emit menu->aboutToShow();
            menu->adjustSize();
            QPixmap picture = dlg.grab();
            const QPoint at = bar->mapTo(&dlg, bar->actionGeometry(file).bottomLeft());
            QPainter painter(&picture);
            painter.drawPixmap(at, menu->grab());
            painter.end();
            ok &= SavePixmap(picture, out + QStringLiteral("/main-window-menu.png"));
        }
        // The progress window of a registration, drawn over the main window it belongs to.
        {
            CWorkerJob job{CWorkerJob::Work()};
            CPolicyListManager reporter;
            job.Attach(reporter);
            reporter.m_command(QStringLiteral("netsh interface ipv6 add prefixpolicy 2001:db8:100::/40 35 12"));
            reporter.m_progress(6, 8);
            CProgressDlg progress(t.App(), CProgressDlg::EKind::Register, job, &dlg);
            progress.Create();
            progress.show();
            // The main window as it is meanwhile: its controls and menu disabled.
            dlg.ClientArea()->setEnabled(false);
            if (dlg.GetMenu()) dlg.GetMenu()->setEnabled(false);
            QApplication::processEvents();
            QPixmap picture = dlg.grab();
            const QPixmap window = progress.grab();
            // The window with a plain frame and its caption, as a window manager would draw it.
            const int caption = QFontMetrics(progress.font()).height() + 10;
            const QRect frame((picture.width() - window.width()) / 2 - 1,
                              (picture.height() - window.height() - caption) / 2 - 1,
                              window.width() + 2, window.height() + caption + 2);
            QPainter painter(&picture);
            painter.fillRect(frame, progress.palette().color(QPalette::Highlight));
            painter.setPen(progress.palette().color(QPalette::HighlightedText));
            painter.drawText(frame.adjusted(8, 1, 0, -window.height() - 1),
                             Qt::AlignLeft | Qt::AlignVCenter, progress.windowTitle());
            painter.drawPixmap(frame.left() + 1, frame.top() + 1 + caption, window);
            painter.end();
            progress.hide();
            dlg.ClientArea()->setEnabled(true);
            if (dlg.GetMenu()) dlg.GetMenu()->setEnabled(true);
            ok &= SavePixmap(picture, out + QStringLiteral("/progress-window.png"));
        }
        qunsetenv("NETSH_PREFIXPOLICY_FILE");
    }

    // The address-order preview of RFC 6724's table for loopback and documentation addresses.
    ok &= SaveOrderWindow(t.App(), out + QStringLiteral("/order-window.png"));

    // The agreement and the main window in English (LANG=English).
    {
        testsupport::CTestApp english;
        const QString langDir = stage + QStringLiteral("/conf/langs/English");
        CResourceSet set;
        set.Load(langDir + QStringLiteral("/lang.json"));
        english.App().SetLanguageResources(set);
        english.App().m_csLicensePath = langDir + QStringLiteral("/license.rtf");
        if (const CDialogTemplate* main = set.Dialog(IDD_ZARNTOOL_DIALOG))
            QApplication::setFont(CDialogEx::TemplateFont(*main));

        CZarnlicenseDlg license(english.App());
        license.Create();
        ok &= Save(&license, out + QStringLiteral("/agreement-english.png"));

        QFile::link(stage + QStringLiteral("/netsh"), english.Dir() + QStringLiteral("netsh"));
        testsupport::WriteFile(english.Dir() + QStringLiteral("conf/policytable.conf"),
                               ConfLine("1,0,Loopback,0,50,::1/128") + ConfLine("1,2,Head office LAN,9,45,2001:db8:10::/48") +
                                   ConfLine("1,0,IPv6,1,40,::/0") + ConfLine("1,0,6to4,2,30,2002::/16") +
                                   ConfLine("0,0,Teredo,5,5,2001::/32"));
        CZarntoolDlg dlg(english.App());
        dlg.Create();
        ok &= Save(&dlg, out + QStringLiteral("/main-window-english.png"));
        ok &= SaveOrderWindow(english.App(), out + QStringLiteral("/order-window-english.png"));
    }
    return ok ? 0 : 1;
}
