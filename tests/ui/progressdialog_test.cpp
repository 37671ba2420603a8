// Registration and fetches on a worker thread behind the progress window, with the netsh
// stand-in slowed to 50 ms a run: the window appears, "n / m" advances, the main thread's timers
// keep firing, and "中止" puts the table back (registration) or ends the wait (fetch).
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <string>

#include "net/loopbackserver.h"
#include "support/testsupport.h"
#include "ui/progressdialog.h"
#include "app/runmodes.h"
#include "ui/mainwindow.h"

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

// Sets an environment variable for the life of the object.
class CEnv {
public:
    CEnv(const char* name, const QByteArray& value) : m_name(name) { qputenv(name, value); }
    ~CEnv() { qunsetenv(m_name); }
    CEnv(const CEnv&) = delete;
    CEnv& operator=(const CEnv&) = delete;

private:
    const char* m_name;
};

// What the main thread saw while the work ran: ticks of a 10 ms timer and the progress window.
struct CWatch {
    int ticks = 0;
    QStringList counts;         // each new text of the "n / m" field
    bool seen = false;          // the progress window was up
    QWidget* parent = nullptr;  // its parent window
};

// Watches the progress window from a timer of the main thread and presses "中止" once
// `cancelAt` commands are done (-1: never; 0: as soon as the window is up).
void Watch(CWatch& watch, int cancelAt, QTimer& timer) {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&watch, cancelAt] {
        ++watch.ticks;
        auto* dlg = qobject_cast<CProgressDlg*>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible()) return;
        watch.seen = true;
        watch.parent = dlg->parentWidget();
        const QString count = dlg->GetDlgItemText(IDC_PROGRESS_COUNT);
        if (!count.isEmpty() && (watch.counts.isEmpty() || watch.counts.last() != count))
            watch.counts << count;
        auto* stop = dlg->GetDlgItemAs<QPushButton>(IDCANCEL);
        if (cancelAt >= 0 && stop && stop->isEnabled() &&
            count.section(u'/', 0, 0).trimmed().toInt() >= cancelAt)
            stop->click();
    });
    timer.start();
}

class ProgressTest : public ::testing::Test {
protected:
    ProgressTest()
        : m_table("NETSH_PREFIXPOLICY_FILE",
                  QFile::encodeName(t.Dir() + QStringLiteral("netsh.table"))),
          m_forward("TESTCMD_NETSH_FORWARD",
                    QFile::encodeName(testsupport::StageDir() + QStringLiteral("/netsh"))),
          m_delay("TESTCMD_NETSH_DELAY_MS", "50") {
        QFile::link(QStringLiteral(UI_TESTCMD), t.Dir() + QStringLiteral("netsh"));
        t.App().m_pMainWnd = nullptr;
    }
    QString Conf() const { return t.Dir() + QStringLiteral("conf/policytable.conf"); }

    testsupport::CTestApp t;

private:
    CEnv m_table;
    CEnv m_forward;
    CEnv m_delay;
};

const QByteArray kTable =
    "# netsh interface ipv6 prefix policies: precedence label prefix\n"
    "50 0 ::1/128\n40 1 ::/0\n35 4 ::ffff:0:0/96\n30 2 2002::/16\n";
const QByteArray kConf =
    "1,0,a,3,45,2001:db8::/32\r\n1,0,b,1,40,::/0\r\n1,0,c,5,20,2001:db8:1::/48\r\n"
    "1,0,d,6,10,2001:db8:2::/48\r\n";

}  // namespace

// With [APPLICATION] BATCH 0 (one process per command) and 2 (netsh scripts of two commands).
class ProgressBatchTest : public ProgressTest, public ::testing::WithParamInterface<int> {
protected:
    ProgressBatchTest() { t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("BATCH"), QString::number(GetParam())); }
};

// Editor and apply mode, without and with a cancel at several points of 4 deletes and 4 adds.
TEST_P(ProgressBatchTest, TheWindowShowsTheCommandsAndACancelPutsTheTableBack) {
    const struct {
        bool editor;
        int cancelAt;
    } cases[] = {{true, -1}, {true, 0}, {true, 6}, {false, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.editor ? "editor" : "apply") << " cancel at " << c.cancelAt);
        ASSERT_TRUE(WriteFile(t.Dir() + QStringLiteral("netsh.table"), kTable));
        ASSERT_TRUE(WriteFile(Conf(), kConf));
        t.Boxes().shown.clear();
        CWatch watch;
        QTimer timer;
        Watch(watch, c.cancelAt, timer);
        std::unique_ptr<CZarntoolDlg> dlg;
        if (c.editor) {
            dlg = std::make_unique<CZarntoolDlg>(t.App());
            ASSERT_TRUE(dlg->Create());
            dlg->show();
            dlg->OnBnClickedSave();
        } else {
            runmodes::ApplyPolicyTable(t.App());
        }
        timer.stop();

        EXPECT_TRUE(watch.seen);
        EXPECT_EQ(watch.parent, dlg.get());  // apply mode: a window of its own
        EXPECT_GE(watch.ticks, 5);
        for (const QString& count : watch.counts)
            EXPECT_TRUE(count.endsWith(QStringLiteral(" / 8")));
        QStringList boxes;
        for (const CMessageBoxRequest& r : t.Boxes().shown) boxes << r.text;
        if (c.cancelAt < 0) {
            EXPECT_GE(watch.counts.size(), 2) << watch.counts.join(u' ').toStdString();
            EXPECT_EQ(boxes, QStringList{QStringLiteral("OSへの設定が完了しました。")});
            EXPECT_NE(ReadFile(t.Dir() + QStringLiteral("netsh.table")), kTable);
            if (dlg) {
                EXPECT_EQ(dlg->GetResult(), IDOK);
            }
        } else {
            EXPECT_EQ(boxes, QStringList{
                                 QStringLiteral("OSのポリシテーブルを登録前の状態に戻しました。")});
            EXPECT_EQ(ReadFile(t.Dir() + QStringLiteral("netsh.table")), kTable);
            EXPECT_EQ(ReadFile(Conf()), kConf);  // untouched: not rewritten
            if (dlg) {
                EXPECT_EQ(dlg->GetResult(), -1);
                EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_SAVE));
            }
        }
        if (dlg) dlg->hide();
    }
}

INSTANTIATE_TEST_SUITE_P(Batch, ProgressBatchTest, ::testing::Values(0, 2),
                         [](const ::testing::TestParamInfo<int>& p) { return "Batch" + std::to_string(p.param); });

// "中止" during a fetch from a server that never answers ends the 30-second wait at once: no
// rows, no message box.
TEST_F(ProgressTest, ACancelledFetchEndsAtOnceWithNoRowsAndNoBox) {
    nettest::CLoopbackServer server;
    ASSERT_TRUE(server.Listen());
    server.Start([](int fd, nettest::CLoopbackServer& s) {
        s.ReadRequest(fd);
        s.WaitForStop(60000);
    });
    t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("USE_NETWORK"), QStringLiteral("1"));
    t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("ADDRESS"), server.Address());
    ASSERT_TRUE(WriteFile(Conf(), kConf));
    CZarntoolDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.show();
    CWatch watch;
    QTimer timer;
    Watch(watch, 0, timer);
    dlg.SendCommand(ID_FILE_GETNETWORK);
    timer.stop();
    server.Stop();
    EXPECT_TRUE(watch.seen);
    EXPECT_EQ(dlg.m_listPolicy.GetItemCount(), 4);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(t.LogLines().filter(QStringLiteral("bCancel=TRUE")).size() == 1);
    EXPECT_FALSE(t.App().m_bNetworkUse);
    dlg.hide();
}
