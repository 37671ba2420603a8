// The main window's menu commands on the real window: fetching from an HTTP server on loopback
// and from a DHCPv6 server across a veth link, the fetch item's enabled state, export, the
// factory table, the settings dialog, help, the version box and quitting, by menu and by keys.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/dhcpresponder.h"
#include "net/loopbackserver.h"
#include "net/netns.h"
#include "ostable/exportfile.h"
#include "platform/codepage.h"
#include "platform/socket.h"
#include "support/testsupport.h"
#include "ui/aboutdialog.h"
#include "ui/helpwindow.h"
#include "ui/settingsdialog.h"
#include "ui/mainwindow.h"
#include "uitestutil.h"

static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// The help-file reader is the staged one.
[[maybe_unused]] const bool kStagedReader = [] {
    CChmFile::SetReaderProgram(testsupport::StageDir() + QStringLiteral("/chmread"));
    return true;
}();

using nettest::CLoopbackServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

const QString kApp = QStringLiteral("APPLICATION");
constexpr int kWaitMs = 3000;

QByteArray ConfLine(bool on, int source, const QString& name, int label, int priority,
                    const QString& address) {
    const int code = source == 2 ? 0 : source == 1 ? 1 : 2;
    return platform::ToCp932(QStringLiteral("%1,%2,%3,%4,%5,%6\r\n")
                                 .arg(on ? 1 : 0)
                                 .arg(code)
                                 .arg(name)
                                 .arg(label)
                                 .arg(priority)
                                 .arg(address));
}

QByteArray HttpOk(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// One row of the list as the tests compare it: check, name, label, priority, address, source.
struct Row {
    bool checked;
    QString name, label, priority, address, source;
    bool operator==(const Row&) const = default;
};
void PrintTo(const Row& r, std::ostream* os) {
    *os << (r.checked ? "[x] " : "[ ] ") << r.name.toStdString() << ' ' << r.label.toStdString() << ' '
        << r.priority.toStdString() << ' ' << r.address.toStdString() << " src=" << r.source.toStdString();
}

class MenuCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::link(testsupport::StageDir() + QStringLiteral("/netsh"), t.Dir() + QStringLiteral("netsh")));
        ASSERT_TRUE(
            QFile::link(testsupport::StageDir() + QStringLiteral("/ipconfig"), t.Dir() + QStringLiteral("ipconfig")));
        netshTable = t.Dir() + QStringLiteral("netsh.table");
        qputenv("NETSH_PREFIXPOLICY_FILE", QFile::encodeName(netshTable));
        t.App().m_pMainWnd = nullptr;
        t.App().m_pszHelpFilePath = t.Dir() + QStringLiteral("conf/langs/Japanese/help.chm");
        Set(QStringLiteral("OS"), QStringLiteral("Windows7"));
        Set(QStringLiteral("USE_NETWORK"), QStringLiteral("1"));
        Set(QStringLiteral("LANG"), QStringLiteral("Japanese"));
    }
    void TearDown() override {
        server.Stop();
        if (dlg) {
            dlg->hide();
            dlg.reset();
        }
        exportfile::SetClockForTesting({});
        qunsetenv("NETSH_PREFIXPOLICY_FILE");
    }

    void Set(const QString& key, const QString& value) { t.SetSetting(kApp, key, value); }
    QString ConfPath() { return t.Dir() + QStringLiteral("conf/policytable.conf"); }

    void Open(const QByteArray& conf = {}) {
        ASSERT_TRUE(WriteFile(ConfPath(), conf));
        dlg = std::make_unique<CZarntoolDlg>(t.App());
        ASSERT_TRUE(dlg->Create());
        dlg->m_clManager.SetNetworkWaitForTesting(kWaitMs);
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }

    QList<Row> Rows() {
        QList<Row> rows;
        CPolicyListCtrl& list = dlg->m_listPolicy;
        for (int i = 0; i < list.GetItemCount(); ++i)
            rows.append(Row{list.GetCheck(i), list.GetItemText(i, 1), list.GetItemText(i, 2),
                            list.GetItemText(i, 3), list.GetItemText(i, 4), list.GetItemText(i, 5)});
        return rows;
    }
    int NetworkRows() {
        int n = 0;
        for (const Row& r : Rows()) n += r.source == QLatin1String("1");
        return n;
    }

    // Serves each connection with the next response (the last one repeats).
    void ServeHttp(QList<QByteArray> responses, const QString& protocol = QStringLiteral("HTTP")) {
        ASSERT_TRUE(server.Listen()) << "cannot listen on a loopback address at port 49881";
        Set(QStringLiteral("PROTOCOL"), protocol);
        Set(QStringLiteral("ADDRESS"), server.Address());
        auto next = std::make_shared<std::atomic<int>>(0);
        server.Start([responses, next](int fd, CLoopbackServer& s) {
            s.ReadRequest(fd);
            const int i = std::min<int>(next->fetch_add(1), int(responses.size()) - 1);
            CLoopbackServer::SendAll(fd, responses[i]);
        });
    }

    bool LogHas(const QString& ending) {
        for (const QString& l : t.LogLines())
            if (l.endsWith(ending)) return true;
        return false;
    }

    // The popup that holds the command, after its update handlers have run.
    QAction* OpenPopupFor(int command) {
        QAction* item = dlg->GetMenuItem(command);
        if (!item) return nullptr;
        for (QAction* top : dlg->GetMenu()->actions())
            if (top->menu() && top->menu()->actions().contains(item)) emit top->menu()->aboutToShow();
        return item;
    }

    testsupport::CTestApp t;
    QString netshTable;
    CLoopbackServer server;
    std::unique_ptr<CZarntoolDlg> dlg;
};

const QByteArray kBodyTwo = "route-info\r\n1,2001:db8:1::/48\r\n2,2001:db8:2::/48\r\n";

}  // namespace

// ---- The menu ---------------------------------------------------------------------------------

TEST_F(MenuCommands, LanguageLibraryAddsFetchAndSettingsItemsToTheFilePopup) {
    Open();
    QAction* fetch = dlg->GetMenuItem(ID_FILE_GETNETWORK);
    QAction* settings = dlg->GetMenuItem(ID_FILE_PROPERTY);
    ASSERT_NE(fetch, nullptr);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(fetch->text(), QStringLiteral("ネットワークからポリシを取得(&N)"));
    EXPECT_EQ(settings->text(), QStringLiteral("環境設定(&S)..."));
    for (int id : {32779, 32782, 32787, 32785, 32783}) EXPECT_NE(dlg->GetMenuItem(id), nullptr) << id;
}

TEST_F(MenuCommands, FetchItemEnabledUnlessUseNetworkIsZero) {
    Open();
    const QList<std::pair<QString, bool>> cases{{QStringLiteral("0"), false},
                                                {QStringLiteral("1"), true},
                                                {QString(), true},
                                                {QStringLiteral("yes"), true}};
    for (const auto& [value, enabled] : cases) {
        Set(QStringLiteral("USE_NETWORK"), value);
        QAction* item = OpenPopupFor(ID_FILE_GETNETWORK);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->isEnabled(), enabled) << value.toStdString();
    }
}

TEST_F(MenuCommands, FetchItemDisabledWhenUseNetworkIsMissing) {
    Open();
    QByteArray ini = ReadFile(t.App().m_pszProfileName);
    ini.replace("USE_NETWORK=1\r\n", "");
    ASSERT_TRUE(WriteFile(t.App().m_pszProfileName, ini));
    ASSERT_EQ(t.App().GetProfileString(kApp, QStringLiteral("USE_NETWORK"), QStringLiteral("<none>")),
              QStringLiteral("<none>"));
    QAction* item = OpenPopupFor(ID_FILE_GETNETWORK);
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->isEnabled());
}

// ---- Fetching by HTTP -------------------------------------------------------------------------

TEST_F(MenuCommands, HttpFetchAddsSwitchedOffNetworkRowsSorted) {
    Open(ConfLine(true, 0, "user", 3, 40, "::1/128"));
    ServeHttp({HttpOk(kBodyTwo)});
    dlg->SendCommand(ID_FILE_GETNETWORK);
    const QList<Row> expected{
        {true, QStringLiteral("user"), QStringLiteral("3"), QStringLiteral("40"), QStringLiteral("::1/128"), QStringLiteral("0")},
        {false, QStringLiteral("Network(HTTP_DEFAULT)"), QStringLiteral("0"), QStringLiteral("0"),
         QStringLiteral("2001:db8:1::/48"), QStringLiteral("1")},
        {false, QStringLiteral("Network(HTTP_DEFAULT)"), QStringLiteral("0"), QStringLiteral("0"),
         QStringLiteral("2001:db8:2::/48"), QStringLiteral("1")},
    };
    EXPECT_EQ(Rows(), expected);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("csProtocol=HTTP")));
    EXPECT_TRUE(LogHas(QStringLiteral("CZarntoolDlgクラスのOnFileGetNetworkの処理を終了します。")));
    // The network icon.
    EXPECT_EQ(dlg->m_listPolicy.GetItemImage(1, 1), 1);
}

TEST_F(MenuCommands, FetchingTwiceLeavesOneSetOfNetworkRows) {
    Open(ConfLine(true, 2, "os", 1, 50, "::/0"));
    ServeHttp({HttpOk(kBodyTwo), HttpOk("x\r\n1,2001:db8:3::/48\r\n")});
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(NetworkRows(), 2);
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(server.Connections(), 2);
    const QList<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].address, QStringLiteral("::/0"));
    EXPECT_EQ(rows[0].source, QStringLiteral("2"));
    EXPECT_EQ(rows[1].address, QStringLiteral("2001:db8:3::/48"));
}

TEST_F(MenuCommands, FetchedRowWithTheAddressOfAUserRowIsDropped) {
    Open(ConfLine(true, 0, "mine", 7, 45, "2001:DB8:1::/48"));
    ServeHttp({HttpOk(kBodyTwo + "3,2001:db8:2::/48\r\n")});
    dlg->SendCommand(ID_FILE_GETNETWORK);
    const QList<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], (Row{true, QStringLiteral("mine"), QStringLiteral("7"), QStringLiteral("45"),
                            QStringLiteral("2001:DB8:1::/48"), QStringLiteral("0")}));
    // The second copy of 2001:db8:2::/48 in the same fetch is dropped too.
    EXPECT_EQ(rows[1].address, QStringLiteral("2001:db8:2::/48"));
}

TEST_F(MenuCommands, FailedFetchKeepsTheList) {
    Open(ConfLine(true, 0, "user", 3, 40, "::1/128"));
    ServeHttp({HttpOk(kBodyTwo), "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"});
    dlg->SendCommand(ID_FILE_GETNETWORK);
    const QList<Row> before = Rows();
    ASSERT_EQ(before.size(), 3);
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(Rows(), before);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("設定されたサーバが不正な応答を行いました。"));
    EXPECT_TRUE(LogHas(QStringLiteral("bGet=FALSE")));
}

TEST_F(MenuCommands, UnreachableServerKeepsTheListAndSays502) {
    Open(ConfLine(true, 0, "user", 3, 40, "::1/128"));
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    Set(QStringLiteral("ADDRESS"), nettest::UnusedLoopbackAddress());
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(Rows().size(), 1);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("設定されたサーバに接続ができませんでした。"));
}

TEST_F(MenuCommands, ProtocolInSmallLettersUsesHttp) {
    Open();
    ServeHttp({HttpOk(kBodyTwo)}, QStringLiteral("http"));
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(NetworkRows(), 2);
}

TEST_F(MenuCommands, UnknownProtocolFetchesNothingAndSaysNothing) {
    Open(ConfLine(true, 0, "user", 3, 40, "::1/128"));
    ServeHttp({HttpOk(kBodyTwo)}, QStringLiteral("FTP"));
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(Rows().size(), 1);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("csProtocol=FTP")));
    EXPECT_TRUE(LogHas(QStringLiteral("bGet=FALSE")));
}

TEST_F(MenuCommands, FetchWithoutRowsRemovesTheEarlierNetworkRows) {
    Open(ConfLine(true, 0, "user", 3, 40, "::1/128"));
    ServeHttp({HttpOk(kBodyTwo), HttpOk("only the first line\r\n")});
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(NetworkRows(), 2);
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(NetworkRows(), 0);
    EXPECT_EQ(Rows().size(), 1);
}

TEST_F(MenuCommands, BodyLinesThatAreNoPolicyPutNoEmptyRowsIntoTheList) {
    Open();
    ServeHttp({HttpOk("route-info\r\n2001:db8:9::/48\r\n\r\n1,2001:db8:1::/48\r\n")});
    dlg->SendCommand(ID_FILE_GETNETWORK);
    const QList<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].address, QStringLiteral("2001:db8:1::/48"));
}

TEST_F(MenuCommands, FetchedRowsReachTheTableOnlyByRegistration) {
    WriteFile(netshTable, "50 0 ::1/128\n");
    Open(ConfLine(true, 0, "user", 3, 40, "::1/128"));
    ServeHttp({HttpOk(kBodyTwo)});
    dlg->SendCommand(ID_FILE_GETNETWORK);
    EXPECT_EQ(ReadFile(netshTable), QByteArray("50 0 ::1/128\n"));
    EXPECT_EQ(ReadFile(ConfPath()), ConfLine(true, 0, "user", 3, 40, "::1/128"));
}

// ---- Fetching by DHCPv6 -----------------------------------------------------------------------

namespace {

// Puts the calling thread into a named network namespace for the object's life.
class CInNamespace {
public:
    explicit CInNamespace(const QString& name) {
        m_saved = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const QByteArray path = QFile::encodeName(QStringLiteral("/run/netns/") + name);
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        m_ok = m_saved >= 0 && fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) ::close(fd);
    }
    ~CInNamespace() {
        if (m_saved < 0) return;
        if (m_ok && ::setns(m_saved, CLONE_NEWNET) != 0) std::abort();  // never go on elsewhere
        ::close(m_saved);
    }
    CInNamespace(const CInNamespace&) = delete;
    CInNamespace& operator=(const CInNamespace&) = delete;
    bool Ok() const { return m_ok; }

private:
    int m_saved = -1;
    bool m_ok = false;
};

// A DHCPv6 server in the server namespace: answers one Information-request with a Reply that
// carries the given options.
class CDhcpServer {
public:
    ~CDhcpServer() { Join(); }
    bool Start(const QString& netns, QByteArray options) {
        m_responder.Start(netns, [this, options](const QByteArray& request) {
            QList<QByteArray> answers;
            if (request.size() < 4 || request[0] != 11) return answers;
            answers << char(7) + request.mid(1, 3) + options;
            ++m_answered;
            return answers;
        });
        return m_responder.m_ready;
    }
    void Join() { m_responder.Join(); }
    std::atomic<int> m_answered{0};

private:
    nettest::CResponder m_responder;
};

QByteArray PolicyOption(const QByteArray& entries, int code = 27) {
    QByteArray o;
    o += char(code >> 8);
    o += char(code & 0xFF);
    o += char(entries.size() >> 8);
    o += char(entries.size() & 0xFF);
    return o + entries;
}

}  // namespace

TEST_F(MenuCommands, DhcpFetchAcrossALinkAddsTheRepliedRows) {
    const QString unavailable = nettest::NamespaceTestsUnavailable();
    if (!unavailable.isEmpty()) GTEST_SKIP() << unavailable.toStdString();
    nettest::CVethLink link;
    QString reason;
    ASSERT_TRUE(link.Create(&reason)) << reason.toStdString();

    Set(QStringLiteral("PROTOCOL"), QStringLiteral("DHCP"));
    Open(ConfLine(true, 0, "user", 3, 40, "::1/128"));
    CDhcpServer dhcp;
    // label 10, precedence 40, 2001:db8:1::/48; label 1, precedence 2, ::/0.
    ASSERT_TRUE(dhcp.Start(link.ServerNamespace(),
                           PolicyOption(QByteArray::fromHex("0a28003020010db80001") + QByteArray::fromHex("01020000"))));
    {
        CInNamespace inClient(link.ClientNamespace());
        ASSERT_TRUE(inClient.Ok());
        dlg->SendCommand(ID_FILE_GETNETWORK);
    }
    dhcp.Join();
    EXPECT_EQ(dhcp.m_answered.load(), 1);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    const QList<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].address, QStringLiteral("::1/128"));
    EXPECT_EQ(rows[1], (Row{false, QStringLiteral("Network(DHCP_DEFAULT)"), QStringLiteral("10"), QStringLiteral("40"),
                            QStringLiteral("2001:db8:1::/48"), QStringLiteral("1")}));
    EXPECT_EQ(rows[2].address, QStringLiteral("::/0"));
    EXPECT_EQ(rows[2].priority, QStringLiteral("2"));
    EXPECT_TRUE(LogHas(QStringLiteral("csProtocol=DHCP")));
}

TEST_F(MenuCommands, DhcpReplyWithoutThePolicyOptionRemovesNetworkRows) {
    const QString unavailable = nettest::NamespaceTestsUnavailable();
    if (!unavailable.isEmpty()) GTEST_SKIP() << unavailable.toStdString();
    nettest::CVethLink link;
    QString reason;
    ASSERT_TRUE(link.Create(&reason)) << reason.toStdString();

    Set(QStringLiteral("PROTOCOL"), QStringLiteral("dhcp"));
    Open(ConfLine(true, 0, "user", 3, 40, "::1/128") + ConfLine(false, 1, "old", 0, 0, "2001:db8:7::/48"));
    EXPECT_EQ(NetworkRows(), 1);
    CDhcpServer dhcp;
    ASSERT_TRUE(dhcp.Start(link.ServerNamespace(), PolicyOption(QByteArray::fromHex("01020000"), 99)));
    {
        CInNamespace inClient(link.ClientNamespace());
        ASSERT_TRUE(inClient.Ok());
        dlg->SendCommand(ID_FILE_GETNETWORK);
    }
    dhcp.Join();
    EXPECT_EQ(dhcp.m_answered.load(), 1);
    EXPECT_EQ(NetworkRows(), 0);
    EXPECT_EQ(Rows().size(), 1);
}

// ---- Export -----------------------------------------------------------------------------------

TEST_F(MenuCommands, ExportCreatesTheFolderAndWritesTheStampedFile) {
    exportfile::SetClockForTesting([] { return QDateTime(QDate(2011, 10, 5), QTime(14, 22, 33)); });
    Open();
    const QString folder = t.Dir() + QStringLiteral("export");
    ASSERT_FALSE(QFileInfo::exists(folder));
    dlg->SendCommand(ID_FILE_EXPORT);
    const QString file = folder + QStringLiteral("/20111005-142233.dat");
    ASSERT_TRUE(QFileInfo(file).isFile());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("20111005-142233.dat")});
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("ファイルの出力が完了しました。(%1)").arg(file));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_DEBUG);
    EXPECT_TRUE(LogHas(QStringLiteral("FindFile(cs_ExportPath)=FALSE")));

    const QByteArray bytes = ReadFile(file);
    EXPECT_TRUE(bytes.startsWith(">netsh interface ipv6 show prefixpolicies\r\n"));
    EXPECT_TRUE(bytes.contains("\r\n>ipconfig /all\r\n"));
    EXPECT_FALSE(bytes.contains("\r\r"));
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare line feed at " << i;
        }
    // The text is CP932: the stand-ins print Japanese.
    const QString text = platform::FromCp932(bytes);
    EXPECT_EQ(platform::ToCp932(text), bytes);
    EXPECT_TRUE(text.contains(QStringLiteral("優先順位")));
    EXPECT_FALSE(bytes.toStdString().find("優先順位") != std::string::npos);  // not UTF-8
}

TEST_F(MenuCommands, ExportIntoAnExistingFolderAndCtrlE) {
    exportfile::SetClockForTesting([] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)); });
    ASSERT_TRUE(QDir().mkpath(t.Dir() + QStringLiteral("export")));
    Open();
    QTest::keyClick(dlg.get(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(QFileInfo(t.Dir() + QStringLiteral("export/20260102-030405.dat")).isFile());
    EXPECT_FALSE(LogHas(QStringLiteral("FindFile(cs_ExportPath)=FALSE")));
    ASSERT_EQ(t.Boxes().shown.size(), 1);
}

TEST_F(MenuCommands, SecondExportInTheSameSecondReplacesTheFirst) {
    exportfile::SetClockForTesting([] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)); });
    WriteFile(netshTable, "50 0 ::1/128\n");
    Open();
    dlg->SendCommand(ID_FILE_EXPORT);
    const QString file = t.Dir() + QStringLiteral("export/20260102-030405.dat");
    const QByteArray first = ReadFile(file);
    WriteFile(netshTable, "50 0 ::1/128\n40 1 ::/0\n");
    dlg->SendCommand(ID_FILE_EXPORT);
    const QByteArray second = ReadFile(file);
    EXPECT_NE(first, second);
    EXPECT_TRUE(second.contains("::/0"));
    EXPECT_EQ(QDir(t.Dir() + QStringLiteral("export")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(MenuCommands, ExportNeverDestroysAFileItCannotReplace) {
    exportfile::SetClockForTesting([] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)); });
    const QString file = t.Dir() + QStringLiteral("export/20260102-030405.dat");
    ASSERT_TRUE(WriteFile(file, "earlier content\r\n"));
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    Open();
    dlg->SendCommand(ID_FILE_EXPORT);
    EXPECT_EQ(ReadFile(file), QByteArray("earlier content\r\n"));
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("WriteFile(cs_ExportFilePath)=FALSE")));
    EXPECT_EQ(QDir(t.Dir() + QStringLiteral("export")).entryList(QDir::Files | QDir::Hidden).size(), 1);
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
}

TEST_F(MenuCommands, ExportFolderThatCannotBeCreatedWritesNothing) {
    Open();
    t.App().m_szAppDir = t.Dir() + QStringLiteral("missing/parent/");
    dlg->SendCommand(ID_FILE_EXPORT);
    t.App().m_szAppDir = t.Dir();
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("CreateDirectory=FALSE")));
    EXPECT_FALSE(LogHas(QStringLiteral("CZarntoolDlgクラスのOnFileExportの処理を終了します。")));
}

TEST_F(MenuCommands, ExportWithoutTheOsTableShows517AndWritesNothing) {
    Open();
    QFile::remove(t.Dir() + QStringLiteral("netsh"));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(t.Dir() + QStringLiteral("nothing-here")));
    dlg->SendCommand(ID_FILE_EXPORT);
    qputenv("PATH", oldPath);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_TRUE(t.Boxes().shown[0].text.startsWith(QStringLiteral("netsh interface ipv6 show prefixpolicies")));
    EXPECT_TRUE(QDir(t.Dir() + QStringLiteral("export")).entryList(QDir::Files).isEmpty());
}

// ---- Factory table ----------------------------------------------------------------------------

TEST_F(MenuCommands, FactoryTableReplacesEveryRowSortedAndTouchesNoFile) {
    WriteFile(netshTable, "50 0 ::1/128\n");
    const QByteArray conf = ConfLine(true, 0, "user", 3, 40, "2001:db8::/32") +
                            ConfLine(false, 1, "net", 0, 0, "2001:db8:1::/48");
    Open(conf);
    dlg->SendCommand(ID_FILE_DEFAULT);

    CPolicyList factory;
    CPolicyListManager manager;
    manager.m_pApp = &t.App();
    ASSERT_TRUE(manager.GetPolicyFile(factory, t.Dir() + QStringLiteral("conf/policytable.conf.default")));
    ASSERT_FALSE(factory.isEmpty());
    QList<Row> expected;
    for (const CPolicy& p : factory)
        expected.append(Row{!p.m_bDisabled, p.m_csNetworkName, p.m_csLabel, p.m_csPriority, p.m_csAddress,
                            QString::number(p.m_nSource)});
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Row& a, const Row& b) { return a.priority.toInt() > b.priority.toInt(); });
    QList<Row> rows = Rows();
    ASSERT_EQ(rows.size(), expected.size());
    for (int i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].priority, expected[i].priority) << i;
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.address < b.address; });
    std::sort(expected.begin(), expected.end(), [](const Row& a, const Row& b) { return a.address < b.address; });
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(ReadFile(ConfPath()), conf);
    EXPECT_EQ(ReadFile(netshTable), QByteArray("50 0 ::1/128\n"));
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
}

TEST_F(MenuCommands, FactoryTableMissingShows514AndKeepsTheRows) {
    ASSERT_TRUE(QFile::remove(t.Dir() + QStringLiteral("conf/policytable.conf.default")));
    Open(ConfLine(true, 0, "user", 3, 40, "2001:db8::/32"));
    const QList<Row> before = Rows();
    dlg->SendCommand(ID_FILE_DEFAULT);
    EXPECT_EQ(Rows(), before);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text,
              QStringLiteral("ポリシテーブル標準設定ファイルが存在しません。処理を続行できませんでした。"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_ERROR);
}

// ---- Settings ---------------------------------------------------------------------------------

TEST_F(MenuCommands, SettingsDialogOpensFromTheMenuAndOwnsBoxesWhileOpen) {
    Open();
    CZarnpropDlg* seen = nullptr;
    QObject* ownerWhileOpen = nullptr;
    uitest::WhenModal(
        [&](QWidget* w) {
            seen = qobject_cast<CZarnpropDlg*>(w);
            ownerWhileOpen = t.Log().m_hOwnerWnd.data();
            QTest::keyClick(w, Qt::Key_Escape);
        },
        dlg.get());
    dlg->GetMenuItem(ID_FILE_PROPERTY)->trigger();
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(ownerWhileOpen, seen);
    EXPECT_EQ(t.Log().m_hOwnerWnd.data(), dlg.get());
    EXPECT_TRUE(LogHas(QStringLiteral("CZarntoolDlgクラスのOnFilePropertyの処理を終了します。")));
}

TEST_F(MenuCommands, SavedSettingsApplyAtTheNextUse) {
    Open();
    QAction* fetch = OpenPopupFor(ID_FILE_GETNETWORK);
    ASSERT_TRUE(fetch->isEnabled());
    uitest::WhenModal(
        [&](QWidget* w) {
            auto* prop = static_cast<CZarnpropDlg*>(w);
            prop->m_chkGetNetwork.click();
            QTest::mouseClick(prop->GetDlgItem(IDOK), Qt::LeftButton);
        },
        dlg.get());
    dlg->SendCommand(ID_FILE_PROPERTY);
    EXPECT_EQ(t.App().GetProfileString(kApp, QStringLiteral("USE_NETWORK")), QStringLiteral("0"));
    OpenPopupFor(ID_FILE_GETNETWORK);
    EXPECT_FALSE(fetch->isEnabled());
}

// ---- Help and version -------------------------------------------------------------------------

TEST_F(MenuCommands, HelpOpensTheStartUpHelpFileAtItsDefaultTopic) {
    ASSERT_TRUE(QFile::copy(testsupport::StageDir() + QStringLiteral("/conf/langs/Japanese/help.chm"),
                            t.App().m_pszHelpFilePath));
    Open();
    dlg->SendCommand(ID_HELP_ABOUT);
    CHelpWindow* help = CHelpWindow::Instance();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->parentWidget(), dlg.get());
    EXPECT_EQ(help->File().Path(), t.App().m_pszHelpFilePath);
    EXPECT_EQ(help->CurrentTopic(), QStringLiteral("/index.html"));
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
}

TEST_F(MenuCommands, HelpWithoutHelpFileShows510AndOpensNothing) {
    Open();
    dlg->SendCommand(ID_HELP_ABOUT);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("ヘルプファイルが存在しません。"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_ERROR);
    CHelpWindow* help = CHelpWindow::Instance();
    EXPECT_TRUE(help == nullptr || help->parentWidget() != dlg.get());
}

TEST_F(MenuCommands, HelpChecksTheLanguageNowSetButShowsTheStartUpFile) {
    ASSERT_TRUE(QFile::copy(testsupport::StageDir() + QStringLiteral("/conf/langs/Japanese/help.chm"),
                            t.App().m_pszHelpFilePath));
    Open();
    // A language without help: 510, although the start-up file exists.
    ASSERT_TRUE(QDir().mkpath(t.Dir() + QStringLiteral("conf/langs/English")));
    Set(QStringLiteral("LANG"), QStringLiteral("English"));
    dlg->SendCommand(ID_HELP_ABOUT);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    // With its help present, the file shown is still the start-up one.
    ASSERT_TRUE(WriteFile(t.Dir() + QStringLiteral("conf/langs/English/help.chm"), "not read"));
    dlg->SendCommand(ID_HELP_ABOUT);
    EXPECT_EQ(t.Boxes().shown.size(), 1);
    ASSERT_NE(CHelpWindow::Instance(), nullptr);
    EXPECT_EQ(CHelpWindow::Instance()->File().Path(), t.App().m_pszHelpFilePath);
}

TEST_F(MenuCommands, VersionBoxFromTheMenuAndFromTheSystemMenu) {
    Open();
    int shown = 0;
    auto closeAbout = [&](QWidget* w) {
        if (qobject_cast<CAboutDlg*>(w)) ++shown;
        QTest::keyClick(w, Qt::Key_Escape);
    };
    uitest::WhenModal(closeAbout, dlg.get());
    dlg->SendCommand(ID_HELP_VERSION);
    EXPECT_EQ(shown, 1);
    uitest::WhenModal(closeAbout, dlg.get());
    QAction* about = nullptr;
    for (QAction* a : dlg->GetSystemMenu()->actions())
        if (a->text() == t.App().LoadString(101)) about = a;
    ASSERT_NE(about, nullptr);
    about->trigger();
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(LogHas(QStringLiteral("CZarntoolDlgクラスのOnHelpVersionの処理を終了します。")));
}

// ---- Quitting ---------------------------------------------------------------------------------

TEST_F(MenuCommands, CtrlQAsksAndQuitsOnYes) {
    Open();
    t.Boxes().QueueAnswer(IDNO);
    QTest::keyClick(dlg.get(), Qt::Key_Q, Qt::ControlModifier);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("ポリシテーブル設定ツールを終了してもよろしいですか？"));
    EXPECT_TRUE(dlg->isVisible());
    t.Boxes().QueueAnswer(IDYES);
    dlg->GetMenuItem(ID_FILE_QUIT)->trigger();
    EXPECT_EQ(t.Boxes().shown.size(), 2);
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
}
