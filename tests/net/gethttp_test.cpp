// GetHttp against a server this test runs on a loopback address: request bytes, completion,
// status, body lines, and every failure with its message and trace line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <cctype>
#include <chrono>
#include <thread>
#include <vector>

#include "loopbackserver.h"
#include "netns.h"
#include "platform/cancelevent.h"
#include "platform/codepage.h"
#include "platform/socket.h"
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
    EXPECT_TRUE(
        app.LogLines().filter(QStringLiteral(",WARN,csRejectedAddress=2001:db8:1::/48地")).size() ==
        1);
}

// --- Chunked transfer coding ---------------------------------------------------------------------

const QByteArray kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

// The body as one chunk per byte.
QByteArray OneByteChunks(const QByteArray& body) {
    QByteArray out;
    for (char c : body) out += "1\r\n" + QByteArray(1, c) + "\r\n";
    return out + "0\r\n\r\n";
}

struct ChunkedCase {
    const char* name;
    QList<QByteArray> pieces;  // as the server sends them, each after a short pause
    bool serverCloses;         // else the connection stays open after the last piece
    QStringList addresses;     // the rows' addresses; empty when the response is refused
    const char* trace;         // the failure's trace line
};

const QByteArray kCp932Line = platform::ToCp932(u"名前,2001:db8:1::/48\r\n");

const ChunkedCase kChunkedCases[] = {
    {"lower and upper case sizes, leading zeros",
     {kChunkedHead + "1a\r\nfirst\r\nx,2001:db8::/32\r\ny,\r\n00000000011\r\n2001:db8:1::/48\r\n"
                     "\r\n0\r\n\r\n"},
     false,
     {"2001:db8::/32", "2001:db8:1::/48"},
     nullptr},
    {"upper case size, extensions, blanks before the semicolon",
     {kChunkedHead + "1A;name=value;x=\"a;b\"\r\nfirst\r\nx,2001:db8::/32\r\ny,\r\n"
                     "11 \t;e\r\n2001:db8:1::/48\r\n\r\n0;last\r\n\r\n"},
     false,
     {"2001:db8::/32", "2001:db8:1::/48"},
     nullptr},
    {"trailer fields",
     {kChunkedHead + "b\r\nh\r\nz,::/0\r\n\r\n0\r\nExpires: 0\r\nX-A:b\r\n\r\n"},
     false,
     {"::/0"},
     nullptr},
    {"chunks of one byte",
     {kChunkedHead + OneByteChunks("h\r\nz,::/0\r\nx,2001:db8::/32\r\n")},
     false,
     {"::/0", "2001:db8::/32"},
     nullptr},
    {"a chunk boundary inside a double-byte character",
     {kChunkedHead + "4\r\nh\r\n" + kCp932Line.left(1) + "\r\n" +
      QByteArray::number(kCp932Line.size() - 1, 16) + "\r\n" + kCp932Line.mid(1) + "\r\n0\r\n\r\n"},
     false,
     {"2001:db8:1::/48"},
     nullptr},
    {"received pieces cut inside the size line and inside CR LF",
     {kChunkedHead + "0", "b\r", "\nh\r\nz,::/0\r\n\r", "\n0\r", "\n\r", "\n"},
     false,
     {"::/0"},
     nullptr},
    {"an empty body", {kChunkedHead + "0\r\n\r\n"}, false, {}, nullptr},
    {"the server closes after the last chunk",
     {kChunkedHead + "b\r\nh\r\nz,::/0\r\n\r\n0\r\n\r\n"},
     true,
     {"::/0"},
     nullptr},
    {"coding name in capitals",
     {"HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\nb\r\nh\r\nz,::/0\r\n\r\n0\r\n\r\n"},
     false,
     {"::/0"},
     nullptr},
    // Refused at once, while the connection stays open.
    {"size not hex", {kChunkedHead + "1g\r\nh\r\n"}, false, {}, "csFraming=chunk-size"},
    {"size written in C", {kChunkedHead + "0x3\r\nh\r\n"}, false, {}, "csFraming=chunk-size"},
    {"no size", {kChunkedHead + "\r\nh\r\n"}, false, {}, "csFraming=chunk-size"},
    {"extension without size", {kChunkedHead + ";x\r\nh\r\n"}, false, {}, "csFraming=chunk-size"},
    // After a chunk too: taken as the last chunk, the truncated body would pass as whole.
    {"no size after a chunk",
     {kChunkedHead + "b\r\nh\r\nz,::/0\r\n\r\n\r\n\r\n"},
     false,
     {},
     "csFraming=chunk-size"},
    {"extension without size after a chunk",
     {kChunkedHead + "b\r\nh\r\nz,::/0\r\n\r\n;x\r\n\r\n"},
     false,
     {},
     "csFraming=chunk-size"},
    {"blank before the line end",
     {kChunkedHead + "3 \r\nh\r\n\r\n"},
     false,
     {},
     "csFraming=chunk-size"},
    {"size line ended by LF alone",
     {kChunkedHead + "3\nh\r\n\r\n"},
     false,
     {},
     "csFraming=chunk-size"},
    {"size beyond the bound",
     {kChunkedHead + "1000001\r\nh\r\n"},
     false,
     {},
     "csFraming=chunk-too-large"},
    {"size that overflows",
     {kChunkedHead + "10000000000000000000001\r\n"},
     false,
     {},
     "csFraming=chunk-too-large"},
    {"sizes adding up beyond the bound",
     {kChunkedHead + "1\r\nh\r\n1000000\r\n"},
     false,
     {},
     "csFraming=chunk-too-large"},
    {"data shorter than announced",
     {kChunkedHead + "8\r\nh\r\nz\r\n0\r\n\r\n"},
     false,
     {},
     "csFraming=chunk-data"},
    {"data longer than announced",
     {kChunkedHead + "3\r\nh\r\nz\r\n0\r\n\r\n"},
     false,
     {},
     "csFraming=chunk-data"},
    {"no CR LF after the data",
     {kChunkedHead + "3\r\nh\r\n0\r\n\r\n"},
     false,
     {},
     "csFraming=chunk-data"},
    {"LF alone after the data",
     {kChunkedHead + "3\r\nh\r\n\n0\r\n\r\n"},
     false,
     {},
     "csFraming=chunk-data"},
    {"trailer line without a colon",
     {kChunkedHead + "3\r\nh\r\n\r\n0\r\nX\r\n\r\n"},
     false,
     {},
     "csFraming=trailer"},
    {"folded trailer line",
     {kChunkedHead + "3\r\nh\r\n\r\n0\r\nX: a\r\n b\r\n\r\n"},
     false,
     {},
     "csFraming=trailer"},
    {"last chunk followed by something else",
     {kChunkedHead + "3\r\nh\r\n\r\n0\r\n\r\r\n"},
     false,
     {},
     "csFraming=trailer"},
    {"another coding",
     {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nh\r\n"},
     false,
     {},
     "csFraming=transfer-coding"},
    {"a list of codings",
     {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n"},
     false,
     {},
     "csFraming=transfer-coding"},
    {"chunked twice",
     {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n"
      "0\r\n\r\n"},
     false,
     {},
     "csFraming=transfer-coding"},
    {"no coding named",
     {"HTTP/1.1 200 OK\r\nTransfer-Encoding: \r\n\r\nh\r\n"},
     false,
     {},
     "csFraming=transfer-coding"},
    {"Content-Length beside it",
     {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\nTransfer-Encoding: chunked\r\n\r\n"
      "b\r\nh\r\nz,::/0\r\n\r\n0\r\n\r\n"},
     false,
     {},
     "csFraming=transfer-coding-with-content-length"},
    // The server closes before the end.
    {"closed before the last chunk",
     {kChunkedHead + "b\r\nh\r\nz,::/0\r\n\r\n"},
     true,
     {},
     "nTotal="},
    {"closed inside the trailer section",
     {kChunkedHead + "b\r\nh\r\nz,::/0\r\n\r\n0\r\n"},
     true,
     {},
     "nTotal="},
};

void PrintTo(const ChunkedCase& c, std::ostream* os) { *os << c.name; }

class ChunkedResponses : public GetHttpTest, public ::testing::WithParamInterface<ChunkedCase> {};

TEST_P(ChunkedResponses, DecodeOrRefuse) {
    const ChunkedCase& c = GetParam();
    Serve(SendChunks(c.pieces, /*holdOpen=*/!c.serverCloses, 5));
    const bool refused = c.trace != nullptr;
    // Kept open, only the last chunk can end the response before the wait.
    EXPECT_EQ(Fetch(), refused ? 0 : 1);
    QStringList addresses;
    for (const CPolicy& row : rows) addresses.append(row.m_csAddress);
    EXPECT_EQ(addresses, c.addresses);
    if (refused) {
        ExpectMessage(504);
        QString trace = QString::fromLatin1(c.trace);
        if (trace == QStringLiteral("nTotal=")) {  // closed early: every byte sent was counted
            qsizetype total = 0;
            for (const QByteArray& piece : c.pieces) total += piece.size();
            trace += QString::number(total);
        }
        EXPECT_TRUE(LogHas(trace)) << trace.toStdString();
    } else {
        // Only a body without rows brings a message: that the answer held no policy.
        EXPECT_EQ(app.Boxes().shown.size(), c.addresses.isEmpty() ? 1 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(GetHttp, ChunkedResponses, ::testing::ValuesIn(kChunkedCases),
                         [](const auto& testInfo) {
                             QByteArray name = testInfo.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name.toStdString();
                         });

// --- Rows --------------------------------------------------------------------------------------

// A 200 answer without a valid row says so in one message, also when its lines were all left
// out (their number goes to the trace, not to a second message).
TEST_F(GetHttpTest, AnAnswerWithoutAValidRowSaysSo) {
    const struct {
        QByteArray body;
        int leftOut;
    } cases[] = {{"x,2001:db8::/32 only one", 0}, {"h\r\nx,2001:db8::/129\r\nno comma\r\n", 2}};
    for (const auto& c : cases) {
        app.Boxes().shown.clear();
        Serve(SendChunks({Ok() + c.body}));
        EXPECT_EQ(Fetch(), 1);
        EXPECT_TRUE(rows.isEmpty());
        ASSERT_EQ(app.Boxes().shown.size(), 1) << c.body.constData();
        EXPECT_EQ(app.Boxes().shown[0].text,
                  QStringLiteral(
                      "サーバは有効なポリシを含まない応答を返しました。（GET /v6/route-info）"));
        EXPECT_EQ(app.Boxes().shown[0].kind, LOG_WARN);
        EXPECT_TRUE(LogHas(QStringLiteral("nLeftOut=") + QString::number(c.leftOut)));
        EXPECT_TRUE(
            LogHas(QStringLiteral("CPolicyListManagerクラスのGetHttpの処理を終了します。")));
    }
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
    Serve(SendChunks(
        {Ok() + "h\r\nno comma here\r\n\r\n  \r\nz,::/0\r\n"
                "x,2001:db8::/32 store=persistent\r\nx,\"2001:db8::/32\"\r\nx,2001:db8::/129\r\n"
                "x,2001:db8::\x01/32\r\n"}));
    EXPECT_EQ(Fetch(), 1);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("::/0"));
    ASSERT_EQ(app.Boxes().shown.size(), 1);
    EXPECT_EQ(app.Boxes().shown[0].text,
              QStringLiteral("取得したデータのうち5行は不正な形式のため取り込みませんでした。"));
    EXPECT_EQ(app.LogLines().filter(QStringLiteral(",WARN,csRejectedAddress=")).size(), 5);
}

TEST_F(GetHttpTest, LabelAndPriorityFromTheSettingsAreCheckedToo) {
    app.SetSetting(QStringLiteral("HTTP"), QStringLiteral("PRIORITY"),
                   QStringLiteral("99 store=active"));
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

TEST_F(GetHttpTest, ATricklingServerCannotStretchTheWait) {
    // One byte every 20 ms of a response that never completes: a wait that started afresh
    // with each byte would last the whole 20 seconds of it.
    Serve([](int fd, CLoopbackServer& s) {
        s.ReadRequest(fd);
        const QByteArray response = Ok("Content-Length: 1000\r\n") + QByteArray(1000, 'x');
        for (char c : response) {
            if (s.Stopping() || !CLoopbackServer::SendAll(fd, QByteArray(1, c))) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    ExpectMessage(503);
    EXPECT_GE(took, std::chrono::milliseconds(kShortWaitMs - 20));
    EXPECT_LT(took, std::chrono::milliseconds(kShortWaitMs + 3000));  // a bound, not a speed
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

// A listener on [::1]:49881 whose accept queue is full: a connect to it is never answered.
std::vector<platform::CSocket> SilentIpv6Loopback() {
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(49881);
    sa.sin6_addr = in6addr_loopback;
    const auto* address = reinterpret_cast<const sockaddr*>(&sa);
    std::vector<platform::CSocket> sockets(5);
    if (!sockets[0].Open(AF_INET6, SOCK_STREAM, 0) ||
        ::bind(sockets[0].Get(), address, sizeof sa) != 0 || ::listen(sockets[0].Get(), 0) != 0)
        return {};
    for (std::size_t i = 1; i < sockets.size(); ++i) {
        if (!sockets[i].Open(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK, 0)) return {};
        ::connect(sockets[i].Get(), address, sizeof sa);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return sockets;
}

// A name that gives ::1 first and the server's IPv4 address second. Whether ::1 refuses the
// connect or never answers it, the next address is tried within the same wait. Run in a
// network namespace of its own (nothing else listens there) with a hosts file of its own.
class AddressesInTurn : public GetHttpTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AddressesInTurn, AFailedConnectGivesWayToTheNextAddress) {
    const bool silentFirst = GetParam();
    const QString unavailable = nettest::NamespaceTestsUnavailable();
    if (!unavailable.isEmpty()) GTEST_SKIP() << unavailable.toStdString();
    nettest::CVethLink link;
    QString reason;
    ASSERT_TRUE(link.Create(&reason)) << reason.toStdString();
    QTemporaryDir dir;
    const QString hosts = dir.filePath(QStringLiteral("hosts"));
    const QByteArray name = "policy.corvane.test";
    bool ipv6First = false;
    int result = -1;
    nettest::CVethLink::RunIn(link.ClientNamespace(), [&] {
        const std::vector<platform::CSocket> silent =
            silentFirst ? SilentIpv6Loopback() : std::vector<platform::CSocket>();
        if (!server.Listen() || (silentFirst && silent.empty())) {
            reason = QStringLiteral("cannot listen");
            return;
        }
        QFile file(hosts);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write("::1 " + name + "\n" + server.Address().toLatin1() + " " + name + "\n") < 0)
            reason = QStringLiteral("cannot write the hosts file");
        file.close();
        if (!reason.isEmpty() || !nettest::UseOwnHostsFile(hosts, &reason)) return;
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(name.constData(), "49881", &hints, &found) == 0) {
            ipv6First = found->ai_family == AF_INET6 && found->ai_next != nullptr;
            ::freeaddrinfo(found);
        }
        SetAddress(QString::fromLatin1(name));
        server.Start(SendChunks({Ok() + "h\r\nz,::/0\r\n"}));
        result = Fetch();
    });
    ASSERT_TRUE(reason.isEmpty()) << reason.toStdString();
    ASSERT_TRUE(ipv6First) << "the name must give ::1 first";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(rows.size(), 1);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_TRUE(app.Boxes().shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(GetHttp, AddressesInTurn, ::testing::Values(false, true),
                         [](const auto& testInfo) {
                             return std::string(testInfo.param ? "SilentFirst" : "RefusedFirst");
                         });

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

// A cancel ends the wait for a silent server at once, long before the 30-second wait: nothing
// is fetched and nothing is shown.
TEST_F(GetHttpTest, ACancelEndsTheWaitAtOnceWithoutAMessage) {
    platform::CCancelEvent cancel;
    Serve([&cancel](int fd, CLoopbackServer& s) {
        s.ReadRequest(fd);
        cancel.Set();
        s.WaitForStop(60000);
    });
    CPolicyListManager manager;
    manager.m_pCancel = &cancel;
    EXPECT_EQ(manager.GetHttp(rows), 0);
    server.Stop();
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_TRUE(app.Boxes().shown.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("bCancel=TRUE")));
    EXPECT_FALSE(app.App().m_bNetworkUse);
}
