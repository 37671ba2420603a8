// GetHttp against a server this test runs on a loopback address: request bytes, completion,
// status, body lines, and every failure with its message and trace line.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "loopbackserver.h"
#include "platform/codepage.h"
#include "policy/policylistmanager.h"
#include "support/testsupport.h"

namespace {

using nettest::CLoopbackServer;
using nettest::SendChunks;
using testsupport::CTestApp;

constexpr int kShortWaitMs = 400;

class GetHttpTest : public ::testing::Test {
protected:
    // Starts the server with the handler and points the settings at it.
    void Serve(CLoopbackServer::Handler handler, bool ipv6 = false) {
        ASSERT_TRUE(server.Listen(ipv6)) << "cannot listen on a loopback address at port 49881";
        SetAddress(server.Address());
        server.Start(std::move(handler));
    }
    void SetAddress(const QString& address) {
        app.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("ADDRESS"), address);
    }
    int Fetch() {
        CPolicyListManager manager;
        manager.SetNetworkWaitForTesting(kShortWaitMs);
        const int result = manager.GetHttp(rows);
        server.Stop();
        return result;
    }
    bool LogHas(const QString& line) {
        for (const QString& l : app.LogLines())
            if (l.endsWith(QStringLiteral(",DEBUG,") + line) ||
                l.endsWith(QStringLiteral(",ERROR,") + line))
                return true;
        return false;
    }
    // The one message box shown, as "<id text>/<kind>".
    void ExpectMessage(int id) {
        ASSERT_EQ(app.Boxes().shown.size(), 1);
        EXPECT_EQ(app.Boxes().shown[0].text, app.App().LoadString(id));
        EXPECT_EQ(app.Boxes().shown[0].kind, LOG_ERROR);
        EXPECT_TRUE(LogHas(app.App().LoadString(id)));
    }

    CTestApp app;
    CLoopbackServer server;
    CPolicyList rows;
};

QByteArray Ok(const QByteArray& headers = {}) { return "HTTP/1.1 200 OK\r\n" + headers + "\r\n"; }

// --- Request -----------------------------------------------------------------------------------

TEST_F(GetHttpTest, SendsTheRequestByteForByte) {
    Serve(SendChunks({Ok() + "first\r\n"}));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(server.Requests().size(), 1);
    EXPECT_EQ(server.Requests()[0],
              "GET /v6/route-info HTTP/1.1\r\nHost:" + server.Address().toLatin1() +
                  ":49881\r\nAccept:*/*\r\nAccept-Charset:Shift_JIS\r\n"
                  "Connection:close\r\n\r\n");
}

TEST_F(GetHttpTest, Ipv6LiteralHostLineInBrackets) {
    Serve(SendChunks({Ok() + "h\r\nx,2001:db8::/32\r\n"}));
    // The same server reached through an IPv4-mapped IPv6 literal.
    const QString literal = QStringLiteral("::ffff:") + server.Address();
    SetAddress(literal);
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(server.Requests().size(), 1);
    EXPECT_TRUE(server.Requests()[0].contains("\r\nHost:[" + literal.toLatin1() + "]:49881\r\n"));
    EXPECT_EQ(rows.size(), 1);
}

TEST_F(GetHttpTest, Ipv6LoopbackServer) {
    Serve(SendChunks({Ok() + "h\r\nx,2001:db8::/32\r\n"}), /*ipv6=*/true);
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(server.Requests().size(), 1);
    EXPECT_TRUE(server.Requests()[0].contains("\r\nHost:[::1]:49881\r\n"));
    EXPECT_EQ(rows.size(), 1);
}

// --- Completion --------------------------------------------------------------------------------

class ContentLengthBlanks : public GetHttpTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(ContentLengthBlanks, ReadsTheBodyAcrossChunksAndStopsAtTheLength) {
    // 24 body bytes in three chunks; the server then keeps the connection open, so only the
    // length can end the response before the (short) wait.
    const QByteArray header = QByteArray("HTTP/1.1 200 OK\r\n") + GetParam() + "\r\n\r\n";
    Serve(SendChunks({header, "first\r\nx,2001:", "db8::/32\r\n"}, /*holdOpen=*/true));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8::/32"));
    EXPECT_TRUE(app.Boxes().shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(GetHttp, ContentLengthBlanks,
                         ::testing::Values("Content-Length:24", "Content-Length: 24",
                                           "Content-Length:      24"));

TEST_F(GetHttpTest, WithoutContentLengthReadsUntilTheServerCloses) {
    Serve(SendChunks({Ok() + "first\r\n", "a,2001:db8:1::/48\r\n", "b,2001:db8:2::/48\r\n"}));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("2001:db8:2::/48"));
}

TEST_F(GetHttpTest, ChunksSplitAnywhere) {
    const QByteArray body = "first\r\na,2001:db8:1::/48\r\nb,::/0\r\nc\r\n";
    const QByteArray response =
        "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    Serve(SendChunks(
        {response.left(5), response.mid(5, 14), response.mid(19, 19), response.mid(38, 1),
         response.mid(39, 1), response.mid(40, 3), response.mid(43, 20), response.mid(63)},
        /*holdOpen=*/true, 15));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(rows.size(), 2);  // "c" has one field: it is left out
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("::/0"));
}

TEST_F(GetHttpTest, AChunkSplitInsideADoubleByteCharacter) {
    const QByteArray body =
        platform::ToCp932(u"一行目\r\n名前,2001:db8::/32\r\n名前,2001:db8:1::/48地\r\n");
    const qsizetype mid =
        body.indexOf(platform::ToCp932(u"地")) + 1;  // between lead and trail byte
    Serve(SendChunks({Ok() + body.left(mid), body.mid(mid)}));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(rows.size(), 1);  // the whole character ends the second prefix: left out
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8::/32"));
    EXPECT_TRUE(app.LogLines().filter(QStringLiteral(",WARN,csRejectedAddress=2001:db8:1::/48地")).size() == 1);
}

// --- Rows --------------------------------------------------------------------------------------

TEST_F(GetHttpTest, OneLineBodyGivesNoRows) {
    Serve(SendChunks({Ok("Content-Length: 24\r\n") + "x,2001:db8::/32 only one"}));
    EXPECT_EQ(Fetch(), 1);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("CPolicyListManagerクラスのGetHttpの処理を終了します。")));
}

TEST_F(GetHttpTest, ThreeLineBodyGivesTwoRowsFromTheSettings) {
    app.SetSetting(QStringLiteral("HTTP"), QStringLiteral("NETWORK_NAME"), QStringLiteral("本社"));
    app.SetSetting(QStringLiteral("HTTP"), QStringLiteral("LABEL"), QStringLiteral("7"));
    app.SetSetting(QStringLiteral("HTTP"), QStringLiteral("PRIORITY"), QStringLiteral("35"));
    Serve(SendChunks({Ok() + "header line\r\nx, 2001:db8::/32 \r\ny,fc00::/7,ignored\r\n"}));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(rows.size(), 2);
    for (const CPolicy& row : rows) {
        EXPECT_TRUE(row.m_bDisabled);
        EXPECT_EQ(row.m_nSource, 1);
        EXPECT_EQ(row.m_csNetworkName, QStringLiteral("本社"));
        EXPECT_EQ(row.m_csLabel, QStringLiteral("7"));
        EXPECT_EQ(row.m_csPriority, QStringLiteral("35"));
    }
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8::/32"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("fc00::/7"));
}

// Lines that are no valid row are left out, logged and counted in one message; blank lines are
// nothing. Words hidden in a line never become part of a row.
TEST_F(GetHttpTest, InvalidLinesAreLeftOutAndCountedInOneMessage) {
    Serve(SendChunks({Ok() +
                      "h\r\nno comma here\r\n\r\n  \r\nz,::/0\r\n"
                      "x,2001:db8::/32 store=persistent\r\nx,\"2001:db8::/32\"\r\nx,2001:db8::/129\r\n"
                      "x,2001:db8::\x01/32\r\n"}));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("::/0"));
    ASSERT_EQ(app.Boxes().shown.size(), 1);
    EXPECT_EQ(app.Boxes().shown[0].text, QStringLiteral("取得したデータのうち5行は不正な形式のため取り込みませんでした。"));
    EXPECT_EQ(app.LogLines().filter(QStringLiteral(",WARN,csRejectedAddress=")).size(), 5);
}

TEST_F(GetHttpTest, LabelAndPriorityFromTheSettingsAreCheckedToo) {
    app.SetSetting(QStringLiteral("HTTP"), QStringLiteral("PRIORITY"), QStringLiteral("99 store=active"));
    Serve(SendChunks({Ok() + "h\r\nz,::/0\r\n"}));
    EXPECT_EQ(Fetch(), 1);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_EQ(app.Boxes().shown.size(), 1);
}

TEST_F(GetHttpTest, AppendsToTheList) {
    CPolicy existing;
    existing.m_csAddress = QStringLiteral("kept");
    rows.append(existing);
    Serve(SendChunks({Ok() + "h\r\nz,::/0\r\n"}));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("kept"));
}

// --- Failures ----------------------------------------------------------------------------------

TEST_F(GetHttpTest, Status404) {
    Serve(SendChunks({"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nh\r\na,::/0"}));
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("csStatus=404")));
    ExpectMessage(504);
    EXPECT_FALSE(app.App().m_bNetworkUse);
}

TEST_F(GetHttpTest, ASilentServerTimesOut) {
    Serve([](int fd, CLoopbackServer& s) {
        s.ReadRequest(fd);
        s.WaitForStop(60000);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(kShortWaitMs - 20));
    ExpectMessage(503);
    EXPECT_FALSE(LogHas(QStringLiteral("CPolicyListManagerクラスのGetHttpの処理を終了します。")));
}

TEST_F(GetHttpTest, AServerThatStopsMidResponseTimesOut) {
    Serve(SendChunks({Ok("Content-Length: 100\r\n") + "h\r\n"}, /*holdOpen=*/true));
    EXPECT_EQ(Fetch(), 0);
    ExpectMessage(503);
}

TEST_F(GetHttpTest, AServerClosingBeforeTheLengthIsMet) {
    Serve(SendChunks({Ok("Content-Length: 100\r\n") + "h\r\na,::/0\r\n"}));
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(rows.isEmpty());
    ExpectMessage(504);
}

TEST_F(GetHttpTest, AServerClosingBeforeTheHeaderEnds) {
    Serve(SendChunks({"HTTP/1.1 200 OK\r\nServer: x\r\n"}));
    EXPECT_EQ(Fetch(), 0);
    ExpectMessage(504);
}

TEST_F(GetHttpTest, AServerClosingWithoutAnswering) {
    Serve([](int fd, CLoopbackServer& s) { s.ReadRequest(fd); });
    EXPECT_EQ(Fetch(), 0);
    ExpectMessage(504);
    EXPECT_TRUE(LogHas(QStringLiteral("nTotal=0")));
}

TEST_F(GetHttpTest, AnOversizedResponseIsRefused) {
    Serve([](int fd, CLoopbackServer& s) {
        s.ReadRequest(fd);
        CLoopbackServer::SendAll(fd, Ok() + "h\r\n");
        const QByteArray block(1024 * 1024, 'x');
        for (int i = 0; i < 17 && !s.Stopping(); ++i)
            if (!CLoopbackServer::SendAll(fd, block)) break;
    });
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(rows.isEmpty());
    ExpectMessage(504);
    EXPECT_TRUE(LogHas(QStringLiteral("nTotal=>16777216")));
}

TEST_F(GetHttpTest, ConnectionRefused) {
    SetAddress(nettest::UnusedLoopbackAddress());
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(LogHas(QStringLiteral("connect=111")));
    ExpectMessage(502);
    EXPECT_FALSE(app.App().m_bNetworkUse);
}

TEST_F(GetHttpTest, AnAddressThatCannotBeResolved) {
    SetAddress(QString());
    EXPECT_EQ(Fetch(), 0);
    EXPECT_TRUE(app.LogLines().filter(QStringLiteral(",DEBUG,getaddrinfo=")).size() == 1);
    ExpectMessage(502);
}

TEST_F(GetHttpTest, ARequestThatDoesNotFitIsNeverSent) {
    Serve(SendChunks({Ok() + "h\r\n"}));
    // The request is 100 bytes plus the address.
    const QString longName = QString(4096 - 100, u'a');
    SetAddress(longName);
    EXPECT_EQ(Fetch(), 0);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_TRUE(LogHas(QStringLiteral("nRequestLength=4096")));
    ExpectMessage(502);
}

TEST_F(GetHttpTest, ARequestOfExactly4095BytesIsSent) {
    Serve(SendChunks({Ok() + "h\r\n"}));
    // Fits, though no resolver knows such a name: the failure is the lookup, not the length.
    SetAddress(QString(4095 - 100, u'a'));
    EXPECT_EQ(Fetch(), 0);
    EXPECT_FALSE(app.LogLines().filter(QStringLiteral("nRequestLength")).size() > 0);
    EXPECT_TRUE(app.LogLines().filter(QStringLiteral(",DEBUG,getaddrinfo=")).size() == 1);
}

TEST_F(GetHttpTest, ASecondFetchWhileOneRunsDoesNothing) {
    Serve(SendChunks({Ok() + "h\r\nz,::/0\r\n"}));
    app.App().m_bNetworkUse = true;
    EXPECT_EQ(Fetch(), 1);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_TRUE(app.App().m_bNetworkUse);
    EXPECT_TRUE(LogHas(QStringLiteral("m_bNetworkUse=TRUE")));
}

TEST_F(GetHttpTest, TheBusyFlagIsClearedAfterSuccess) {
    Serve(SendChunks({Ok() + "h\r\nz,::/0\r\n"}));
    EXPECT_EQ(Fetch(), 1);
    EXPECT_FALSE(app.App().m_bNetworkUse);
    EXPECT_TRUE(LogHas(QStringLiteral("m_bNetworkUse=FALSE")));
}

}  // namespace

// A server whose accept queue is full drops further connection attempts: the connect must end
// with the exchange's wait, not the kernel's much longer time-out.
TEST_F(GetHttpTest, AConnectionThatIsNeverAcceptedEndsWithTheWait) {
    const QString address = nettest::UnusedLoopbackAddress();
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(49881);
    ASSERT_EQ(::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr), 1);
    std::vector<int> fds;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    fds.push_back(listener);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    for (int i = 0; i < 4; ++i) {  // fill the accept queue; these are never accepted
        const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ASSERT_GE(c, 0);
        fds.push_back(c);
        ::connect(c, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SetAddress(address);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    for (int fd : fds) ::close(fd);
    EXPECT_TRUE(LogHas(QStringLiteral("connect=110")));
    ExpectMessage(502);
    EXPECT_LT(elapsed, std::chrono::seconds(20));
}
