// The staged program end to end on a private X server: "/e", the agreement accepted, one row
// typed into the four fields and added, the table registered; then the netsh stand-in's table
// and conf/policytable.conf hold what the window showed.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <signal.h>

#include "services/resourceset.h"
#include "platform/codepage.h"
#include "support/testsupport.h"
#include "ui/dialog/dialogex.h"
#include "ui/xsession.h"

namespace {

// The centre of control `id` of dialog `templateId`, in the dialog's client coordinates, or of
// its left edge for a check box (where its box is).
QPoint ControlPoint(int templateId, int id) {
    const CDialogTemplate* t = CResourceSet::ProgramSet().Dialog(templateId);
    if (!t) return {};
    const CDialogControl* c = t->Control(id);
    if (!c) return {};
    const QSize base = CDialogEx::DialogBaseUnits(CDialogEx::TemplateFont(*t));
    const QRect r = CDialogEx::MapDialogRect(c->rect, base);
    if (c->kind == QLatin1String("checkbox")) return QPoint(r.left() + 7, r.center().y());
    return r.center();
}

}  // namespace

TEST(EditorEndToEnd, TypedRowIsAddedAndRegisteredIntoTheTableAndTheFile) {
    if (!xsession::ToolsAvailable()) GTEST_SKIP() << "needs Xvfb and xdotool";
    xsession::CStagedCopy install(testsupport::StageDir());
    ASSERT_TRUE(install.IsValid());
    const QString dir = install.Dir();
    ASSERT_TRUE(testsupport::WriteFile(dir + "conf/policytable.conf",
                                       "1,0,Loopback,0,50,::1/128\r\n0,1,Fetched,3,20,fc00::/7\r\n"));
    const QString table = dir + "netsh.table";
    ASSERT_TRUE(QDir().mkpath(dir + "run"));
    // The lock folder must be private (mode 0700), or the lock goes to the shared fallback.
    ASSERT_TRUE(QFile(dir + "run").setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    xsession::CXvfb x;
    ASSERT_TRUE(x.IsRunning()) << "Xvfb did not start";
    xsession::CXdo xdo(x.Display());

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.Display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("NETSH_PREFIXPOLICY_FILE", table);
    env.insert("XDG_RUNTIME_DIR", dir + "run");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(dir + "zarntool", {"/e"});
    ASSERT_TRUE(program.waitForStarted(10000));

    // The agreement: tick the box, then "利用する".
    const QStringList agreement = xdo.WaitForWindows("Corvane", 1);
    ASSERT_EQ(agreement.size(), 1) << program.readAll().toStdString();
    xdo.Focus(agreement[0]);
    xdo.ClickAt(agreement[0], ControlPoint(139, 1013));
    xdo.ClickAt(agreement[0], ControlPoint(139, 1));

    // The main window: the focus starts on "キャンセル"; Tab leads through "登録" and the list
    // to the four fields, then past the disabled "削除" to "追加".
    QString main;
    QElapsedTimer clock;
    clock.start();
    while (main.isEmpty() && clock.elapsed() < 30000) {
        for (const QString& id : xdo.WaitForWindows("Corvane", 1, 1000))
            if (id != agreement[0]) main = id;
    }
    ASSERT_FALSE(main.isEmpty()) << program.readAll().toStdString();
    xdo.Focus(main);
    xdo.Key({"Tab", "Tab", "Tab"});
    xdo.Type("E2E net");
    xdo.Key({"Tab"});
    xdo.Type("7");
    xdo.Key({"Tab"});
    xdo.Type("45");
    xdo.Key({"Tab"});
    xdo.Type("2001:db8:e2e::/48");
    xdo.Key({"Tab", "space"});
    // From "追加" on: "変更", then round to "キャンセル" and "登録".
    xdo.Key({"Tab", "Tab", "Tab", "space"});

    // Box 404, perhaps after the progress window, which Return leaves alone: Return on each new
    // window until the program ends.
    clock.restart();
    QStringList seen{agreement[0], main};
    while (clock.elapsed() < 30000 && !program.waitForFinished(1)) {
        for (const QString& id : xdo.WaitForWindows("Corvane", 1, 1000)) {
            if (seen.contains(id)) continue;
            seen << id;
            xdo.Focus(id);
            xdo.Key({"Return"});
        }
    }
    ASSERT_GE(seen.size(), 3) << "box 404 did not appear: " << program.readAll().toStdString();
    ASSERT_TRUE(program.state() == QProcess::NotRunning || program.waitForFinished(30000))
        << "the program did not end";

    // The stand-in's table holds the switched-on rows, the file every row in display order.
    QStringList entries;
    for (const QString& line : QString::fromUtf8(testsupport::ReadFile(table)).split(u'\n'))
        if (!line.trimmed().isEmpty() && !line.startsWith(u'#')) entries << line.simplified();
    EXPECT_EQ(entries, (QStringList{"50 0 ::1/128", "45 7 2001:db8:e2e::/48"}));
    EXPECT_EQ(platform::FromCp932(testsupport::ReadFile(dir + "conf/policytable.conf")),
              QStringLiteral("1,0,Loopback,0,50,::1/128\r\n1,2,E2E net,7,45,2001:db8:e2e::/48\r\n"
                             "0,1,Fetched,3,20,fc00::/7\r\n"));
    const QString log = platform::FromCp932(testsupport::ReadFile(dir + "zarntool.log"));
    EXPECT_TRUE(log.contains(QStringLiteral("ポリシ設定画面を表示しました。")));
    EXPECT_TRUE(log.contains(QStringLiteral("OSへの設定が完了しました。")));
    EXPECT_TRUE(log.contains(QStringLiteral("ポリシ設定画面を閉じました。")));
    EXPECT_TRUE(log.contains(QStringLiteral("Corvaneを終了しました。")));
}

// SIGTERM while "登録" runs (what the end of the desktop session sends): the command running
// ends, the table before is put back byte for byte, nobody is asked anything, and the program
// closes with 143; the log names the signal.
TEST(EditorEndToEnd, SigtermDuringRegistrationPutsTheTableBackAndCloses) {
    if (!xsession::ToolsAvailable()) GTEST_SKIP() << "needs Xvfb and xdotool";
    xsession::CStagedCopy install(testsupport::StageDir());
    ASSERT_TRUE(install.IsValid());
    const QString dir = install.Dir();
    QByteArray rows;
    for (int i = 0; i < 18; ++i)
        rows += "1,0,N,1," + QByteArray::number(10 + i) + ",2001:db8:" + QByteArray::number(i + 1, 16) + "::/48\r\n";
    ASSERT_TRUE(testsupport::WriteFile(dir + "conf/policytable.conf", rows));
    const QByteArray before =
        "# netsh interface ipv6 prefix policies: precedence label prefix\n30 2 2002::/16\n";
    const QString table = dir + "netsh.table";
    ASSERT_TRUE(testsupport::WriteFile(table, before));
    // The stand-in behind the slowing wrapper, which writes each run's words first.
    ASSERT_TRUE(QFile::remove(dir + "netsh"));
    ASSERT_TRUE(QFile::link(QStringLiteral(UI_TESTCMD), dir + "netsh"));
    ASSERT_TRUE(QDir().mkpath(dir + "run"));
    ASSERT_TRUE(QFile(dir + "run").setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    xsession::CXvfb x;
    ASSERT_TRUE(x.IsRunning()) << "Xvfb did not start";
    xsession::CXdo xdo(x.Display());
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.Display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("NETSH_PREFIXPOLICY_FILE", table);
    env.insert("XDG_RUNTIME_DIR", dir + "run");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.insert("TESTCMD_NETSH_FORWARD", testsupport::StageDir() + "/netsh");
    env.insert("TESTCMD_NETSH_DELAY_MS", "40");
    env.insert("TESTCMD_NETSH_WORDS", dir + "words.txt");
    program.setProcessEnvironment(env);
    program.setChildProcessModifier([] { ::signal(SIGTERM, SIG_DFL); });
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(dir + "zarntool", {"/e"});
    ASSERT_TRUE(program.waitForStarted(10000));

    const QStringList agreement = xdo.WaitForWindows("Corvane", 1);
    ASSERT_EQ(agreement.size(), 1) << program.readAll().toStdString();
    xdo.Focus(agreement[0]);
    xdo.ClickAt(agreement[0], ControlPoint(139, 1013));
    xdo.ClickAt(agreement[0], ControlPoint(139, 1));
    QString main;
    QElapsedTimer clock;
    clock.start();
    while (main.isEmpty() && clock.elapsed() < 30000) {
        for (const QString& id : xdo.WaitForWindows("Corvane", 1, 1000))
            if (id != agreement[0]) main = id;
    }
    ASSERT_FALSE(main.isEmpty()) << program.readAll().toStdString();
    // The focus starts on "キャンセル"; Tab leads to "登録".
    xdo.Focus(main);
    xdo.Key({"Tab", "space"});

    // Five change commands begun, then the signal.
    const auto changes = [&] {
        int n = 0;
        for (const QByteArray& line : testsupport::ReadFile(dir + "words.txt").split('\n'))
            n += !line.isEmpty() && line.split('\t').value(2) != "show";
        return n;
    };
    clock.restart();
    while (changes() < 5 && clock.elapsed() < 30000) QThread::msleep(5);
    ASSERT_GE(changes(), 5) << program.readAll().toStdString();
    ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
    ASSERT_TRUE(program.waitForFinished(60000)) << "the program did not close";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 143) << program.readAll().toStdString();

    EXPECT_EQ(testsupport::ReadFile(table), before);
    EXPECT_EQ(testsupport::ReadFile(dir + "conf/policytable.conf"), rows);
    EXPECT_FALSE(QFile::exists(dir + "state/registration.journal"));
    const QString log = platform::FromCp932(testsupport::ReadFile(dir + "zarntool.log"));
    EXPECT_TRUE(log.contains(QStringLiteral("シグナル15（SIGTERM）を受け取りました。処理を中止します。")));
    EXPECT_TRUE(log.contains(QStringLiteral("OSのポリシテーブルを登録前の状態に戻しました。")));
    EXPECT_TRUE(log.trimmed().endsWith(QStringLiteral("Corvaneを終了しました。")));
}
