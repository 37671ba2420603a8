// The staged program end to end on a private X server, through its menus: "/e", the agreement
// accepted, the settings dialog opened from the File menu and switched to HTTP with the address
// of a server on loopback, the rows fetched from the menu, the fetched row ticked and
// registered; then the netsh stand-in's table holds that row.
#include <QElapsedTimer>
#include <QFile>
#include <QMenuBar>
#include <QProcess>
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>

#include "services/resourceset.h"
#include "net/loopbackserver.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "support/testsupport.h"
#include "ui/dialog/dialogex.h"
#include "ui/xsession.h"

namespace {

// The centre of control `id` of dialog `templateId` in the dialog's client coordinates (below
// the menu bar when the dialog has one), or the middle of a check box's box.
QPoint ControlPoint(int templateId, int id, int menuBarHeight = 0) {
    const CDialogTemplate* t = CResourceSet::ProgramSet().Dialog(templateId);
    if (!t) return {};
    const CDialogControl* c = t->Control(id);
    if (!c) return {};
    const QSize base = CDialogEx::DialogBaseUnits(CDialogEx::TemplateFont(*t));
    QRect r = CDialogEx::MapDialogRect(c->rect, base);
    if (c->kind == QLatin1String("combobox")) r.setHeight(qMin(r.height(), 2 * base.height()));
    const QPoint p = c->kind == QLatin1String("checkbox") ? QPoint(r.left() + 7, r.center().y()) : r.center();
    return p + QPoint(0, menuBarHeight);
}

// A window titled "Corvane" that is not one of `known`, waited for up to `timeoutMs`.
QString NewWindow(const xsession::CXdo& xdo, const QSet<QString>& known, QProcess& program,
                  int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    // Waiting briefly for the end also notices a program that has ended already.
    while (clock.elapsed() < timeoutMs && !program.waitForFinished(1)) {
        for (const QString& id : xdo.WaitForWindows(QStringLiteral("Corvane"), 1, 500))
            if (!known.contains(id)) return id;
    }
    return {};
}

bool LogContains(const QString& dir, const QString& text, int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    do {
        if (platform::FromCp932(testsupport::ReadFile(dir + QStringLiteral("zarntool.log"))).contains(text))
            return true;
        QThread::msleep(50);
    } while (clock.elapsed() < timeoutMs);
    return false;
}

}  // namespace

TEST(MenusEndToEnd, SettingsFromTheMenuThenFetchTickAndRegister) {
    if (!xsession::ToolsAvailable()) GTEST_SKIP() << "needs Xvfb and xdotool";
    xsession::CStagedCopy install(testsupport::StageDir());
    ASSERT_TRUE(install.IsValid());
    const QString dir = install.Dir();
    const QString ini = dir + QStringLiteral("conf/zarntool.ini");
    const QString app = QStringLiteral("APPLICATION");
    // An empty policy table file: the list opens empty and holds only what is fetched.
    ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("conf/policytable.conf"), QByteArray()));
    ASSERT_TRUE(platform::WriteProfileString(ini, app, QStringLiteral("PROTOCOL"), QStringLiteral("DHCP")));
    ASSERT_TRUE(platform::WriteProfileString(ini, app, QStringLiteral("USE_NETWORK"), QStringLiteral("1")));
    ASSERT_TRUE(platform::WriteProfileString(ini, app, QStringLiteral("ADDRESS"), QString()));
    ASSERT_TRUE(platform::WriteProfileString(ini, app, QStringLiteral("OS"), QStringLiteral("Windows7")));
    const QString table = dir + QStringLiteral("netsh.table");
    ASSERT_TRUE(QDir().mkpath(dir + QStringLiteral("run")));
    // The lock folder must be private (mode 0700), or the lock goes to the shared fallback.
    ASSERT_TRUE(QFile(dir + QStringLiteral("run")).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    // The policy server: one prefix after the first body line.
    nettest::CLoopbackServer server;
    ASSERT_TRUE(server.Listen()) << "cannot listen on a loopback address at port 49881";
    const QByteArray body = "route-info\r\n1,2001:db8:77::/48\r\n";
    server.Start([body](int fd, nettest::CLoopbackServer& s) {
        s.ReadRequest(fd);
        nettest::CLoopbackServer::SendAll(
            fd, "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    });

    xsession::CXvfb x;
    ASSERT_TRUE(x.IsRunning()) << "Xvfb did not start";
    xsession::CXdo xdo(x.Display());

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x.Display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("NETSH_PREFIXPOLICY_FILE"), table);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir + QStringLiteral("run"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(dir + QStringLiteral("zarntool"), {QStringLiteral("/e")});
    ASSERT_TRUE(program.waitForStarted(10000));
    // What the program printed, and how it ended if it did.
    auto output = [&program] {
        std::string text = program.readAll().toStdString();
        if (program.state() == QProcess::NotRunning)
            text += "\n(program ended, exit code " + std::to_string(program.exitCode()) +
                    (program.exitStatus() == QProcess::CrashExit ? ", crashed)" : ")");
        return text;
    };

    // The agreement: tick the box, then "利用する".
    QSet<QString> known;
    const QString agreement = NewWindow(xdo, known, program);
    ASSERT_FALSE(agreement.isEmpty()) << output();
    known << agreement;
    xdo.Focus(agreement);
    xdo.ClickAt(agreement, ControlPoint(139, 1013));
    xdo.ClickAt(agreement, ControlPoint(139, 1));

    // The main window; its menu bar sits above the template's controls.
    ASSERT_TRUE(LogContains(dir, QStringLiteral("ポリシ設定画面を表示しました。"))) << output();
    const QString main = NewWindow(xdo, known, program);
    ASSERT_FALSE(main.isEmpty()) << output();
    known << main;
    QMenuBar probe;
    probe.addMenu(QStringLiteral("ファイル(&F)"));
    const int menuBar = probe.sizeHint().height();

    // File > 環境設定(&S)...
    xdo.Focus(main);
    xdo.Key({QStringLiteral("alt+f")});
    xdo.Key({QStringLiteral("s")});
    const QString settings = NewWindow(xdo, known, program);
    ASSERT_FALSE(settings.isEmpty()) << output();
    known << settings;
    ASSERT_TRUE(LogContains(dir, QStringLiteral("CZarnpropDlgクラスのOnInitDialogの処理を終了します。")));
    xdo.Focus(settings);
    // Protocol: the box opens on "DHCP"; the entry below it is "HTTP".
    xdo.ClickAt(settings, ControlPoint(132, 1014));
    QThread::msleep(300);
    xdo.Key({QStringLiteral("Down"), QStringLiteral("Return")});
    // The address field is enabled by the choice of HTTP.
    xdo.ClickAt(settings, ControlPoint(132, 1007));
    xdo.Type(server.Address());
    xdo.ClickAt(settings, ControlPoint(132, 1));
    ASSERT_TRUE(LogContains(dir, QStringLiteral("CZarnpropDlgクラスのOnBnClickedOkの処理を終了します。"))) << output();
    EXPECT_EQ(platform::GetProfileString(ini, app, QStringLiteral("PROTOCOL"), QString()), QStringLiteral("HTTP"));
    EXPECT_EQ(platform::GetProfileString(ini, app, QStringLiteral("ADDRESS"), QString()), server.Address());

    // File > ネットワークからポリシを取得(&N)
    xdo.Focus(main);
    xdo.Key({QStringLiteral("alt+f")});
    xdo.Key({QStringLiteral("n")});
    ASSERT_TRUE(LogContains(dir, QStringLiteral("CZarntoolDlgクラスのOnFileGetNetworkの処理を終了します。"))) << output();
    EXPECT_EQ(server.Connections(), 1);

    // Tick the fetched row (the only row): focus the list, go to its first row, space.
    xdo.ClickAt(main, ControlPoint(103, 1003, menuBar));
    xdo.Key({QStringLiteral("ctrl+Home"), QStringLiteral("space")});
    // "登録", then box 404 and the end of the program.
    xdo.ClickAt(main, ControlPoint(103, 1002, menuBar));
    // The progress window, which Return leaves alone, may come first.
    const QString box = NewWindow(xdo, known, program);
    ASSERT_FALSE(box.isEmpty()) << output();
    for (QString window = box; !window.isEmpty(); window = NewWindow(xdo, known, program, 5000)) {
        known << window;
        xdo.Focus(window);
        xdo.Key({QStringLiteral("Return")});
    }
    ASSERT_TRUE(program.state() == QProcess::NotRunning || program.waitForFinished(30000))
        << "the program did not end";
    server.Stop();

    QStringList entries;
    for (const QString& line : QString::fromUtf8(testsupport::ReadFile(table)).split(u'\n'))
        if (!line.trimmed().isEmpty() && !line.startsWith(u'#')) entries << line.simplified();
    EXPECT_EQ(entries, QStringList{QStringLiteral("0 0 2001:db8:77::/48")});
    EXPECT_EQ(platform::FromCp932(testsupport::ReadFile(dir + QStringLiteral("conf/policytable.conf"))),
              QStringLiteral("1,1,Network(HTTP_DEFAULT),0,0,2001:db8:77::/48\r\n"));
    const QString log = platform::FromCp932(testsupport::ReadFile(dir + QStringLiteral("zarntool.log")));
    EXPECT_TRUE(log.contains(QStringLiteral("OSへの設定が完了しました。")));
    EXPECT_TRUE(log.contains(QStringLiteral("Corvaneを終了しました。")));
}
