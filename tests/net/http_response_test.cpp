// The HTTP request bytes and the response rules, fed byte by byte and split at every position.
#include <gtest/gtest.h>

#include <random>

#include "net/httpexchange.h"
#include "platform/codepage.h"
#include "policy/policy.h"

namespace {

using net::CHttpResponse;

CHttpResponse Whole(const QByteArray& bytes) {
    CHttpResponse response;
    EXPECT_TRUE(response.Append(bytes));
    return response;
}

// --- Request -----------------------------------------------------------------------------------

TEST(HttpRequest, HostNameWithoutBrackets) {
    EXPECT_EQ(net::BuildHttpRequest("policy.example.org"),
              QByteArray("GET /v6/route-info HTTP/1.1\r\n"
                         "Host:policy.example.org:49881\r\n"
                         "Accept:*/*\r\n"
                         "Accept-Charset:Shift_JIS\r\n"
                         "Connection:close\r\n"
                         "\r\n"));
}

TEST(HttpRequest, Ipv6LiteralInBrackets) {
    EXPECT_TRUE(net::BuildHttpRequest("2001:db8::1").contains("\r\nHost:[2001:db8::1]:49881\r\n"));
}

TEST(HttpRequest, Ipv4LiteralWithoutBrackets) {
    EXPECT_TRUE(net::BuildHttpRequest("192.0.2.1").contains("\r\nHost:192.0.2.1:49881\r\n"));
}

TEST(HttpRequest, EmptyAddress) {
    EXPECT_TRUE(net::BuildHttpRequest("").contains("\r\nHost::49881\r\n"));
}

// --- Content-Length ----------------------------------------------------------------------------

TEST(HttpContentLength, BlanksAfterTheColonDoNotMatter) {
    for (const char* header : {"HTTP/1.1 200 OK\r\nContent-Length:24\r\n\r\n",
                               "HTTP/1.1 200 OK\r\nContent-Length: 24\r\n\r\n",
                               "HTTP/1.1 200 OK\r\nContent-Length:     24\r\n\r\n",
                               "HTTP/1.1 200 OK\r\ncontent-LENGTH:\t24\r\n\r\n"}) {
        EXPECT_EQ(CHttpResponse::ParseContentLength(header), 24) << header;
    }
}

TEST(HttpContentLength, ReadLikeAnInteger) {
    EXPECT_EQ(CHttpResponse::ParseContentLength("S\r\nContent-Length: 12abc\r\n\r\n"), 12);
    EXPECT_EQ(CHttpResponse::ParseContentLength("S\r\nContent-Length: abc\r\n\r\n"), 0);
    EXPECT_EQ(CHttpResponse::ParseContentLength("S\r\nContent-Length: +7\r\n\r\n"), 7);
    EXPECT_EQ(CHttpResponse::ParseContentLength("S\r\nContent-Length: -7\r\n\r\n"), -7);
    EXPECT_EQ(CHttpResponse::ParseContentLength("S\r\nContent-Length : 5\r\n\r\n"), 5);
    EXPECT_EQ(
        CHttpResponse::ParseContentLength("S\r\nContent-Length: 99999999999999999999999\r\n\r\n"),
        qint64(1) << 62);
}

TEST(HttpContentLength, OnlyAFieldOfThatNameCounts) {
    EXPECT_EQ(CHttpResponse::ParseContentLength("S\r\nX-Content-Length: 5\r\n\r\n"), std::nullopt);
    EXPECT_EQ(CHttpResponse::ParseContentLength("S\r\nX-A: content-length: 5\r\n\r\n"),
              std::nullopt);
    EXPECT_EQ(CHttpResponse::ParseContentLength("HTTP/1.1 200 content-length: 5\r\n\r\n"),
              std::nullopt);
    EXPECT_EQ(CHttpResponse::ParseContentLength(
                  "S\r\nA: b\r\nContent-Length: 3\r\nContent-Length: 9\r\n\r\n"),
              3);
}

TEST(HttpContentLength, TheBodyIsNotSearched) {
    const CHttpResponse r = Whole("HTTP/1.1 200 OK\r\n\r\nContent-Length: 1\r\n");
    EXPECT_TRUE(r.HasHeaderEnd());
    EXPECT_EQ(r.ContentLength(), std::nullopt);
    EXPECT_FALSE(r.IsComplete());
    EXPECT_TRUE(r.IsCompleteAtClose());
}

// --- Completion --------------------------------------------------------------------------------

TEST(HttpCompletion, WaitsForContentLengthBytesAfterTheHeader) {
    const QByteArray header = "HTTP/1.1 200 OK\r\nContent-Length: 24\r\n\r\n";
    const QByteArray body = "first\r\nx,2001:db8::/32\r\n";  // 24 bytes
    ASSERT_EQ(body.size(), 24);
    CHttpResponse r;
    r.Append(header);
    EXPECT_EQ(r.HeaderLength(), header.size());
    EXPECT_FALSE(r.IsComplete());
    r.Append(body.left(23));
    EXPECT_FALSE(r.IsComplete());
    EXPECT_FALSE(r.IsCompleteAtClose());
    r.Append(body.right(1));
    EXPECT_TRUE(r.IsComplete());
    EXPECT_EQ(r.BodyElements(), (QStringList{"first", "x,2001:db8::/32"}));
}

TEST(HttpCompletion, WithoutContentLengthOnlyTheCloseCompletes) {
    CHttpResponse r;
    r.Append("HTTP/1.1 200 OK\r\n\r\nfirst\r\n");
    EXPECT_FALSE(r.IsComplete());
    r.Append("a,::/0\r\n");
    EXPECT_FALSE(r.IsComplete());
    EXPECT_TRUE(r.IsCompleteAtClose());
    EXPECT_EQ(r.BodyElements(), (QStringList{"first", "a,::/0"}));
}

TEST(HttpCompletion, WithoutHeaderEndNothingCompletes) {
    const CHttpResponse r = Whole("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n");
    EXPECT_FALSE(r.HasHeaderEnd());
    EXPECT_FALSE(r.IsComplete());
    EXPECT_FALSE(r.IsCompleteAtClose());
    EXPECT_TRUE(r.BodyElements().isEmpty());
}

TEST(HttpCompletion, HeaderEndSplitAtEveryPositionIsFound) {
    const QByteArray response = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nl\r\na,b\r\n";
    for (qsizetype cut1 = 0; cut1 <= response.size(); ++cut1) {
        for (qsizetype cut2 = cut1; cut2 <= response.size(); ++cut2) {
            CHttpResponse r;
            r.Append(response.left(cut1));
            r.Append(response.mid(cut1, cut2 - cut1));
            EXPECT_EQ(r.IsComplete(), cut2 == response.size()) << cut1 << " " << cut2;
            r.Append(response.mid(cut2));
            ASSERT_TRUE(r.IsComplete());
            EXPECT_EQ(r.HeaderLength(), response.indexOf("\r\n\r\n") + 4);
            EXPECT_EQ(r.BodyElements(), (QStringList{"l", "a,b"}));
        }
    }
}

TEST(HttpCompletion, ByteByByte) {
    const QByteArray response = "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n\r\n\r\n";
    CHttpResponse r;
    for (char c : response) r.Append(QByteArrayView(&c, 1));
    EXPECT_EQ(r.HeaderLength(),
              qsizetype(QByteArray("HTTP/1.0 200 OK\r\nServer: x\r\n\r\n").size()));
    EXPECT_EQ(r.BodyElements(), (QStringList{"", ""}));
}

TEST(HttpCompletion, TheResponseIsBounded) {
    CHttpResponse r;
    const QByteArray mebibyte(1024 * 1024, 'a');
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(r.Append(mebibyte));
    EXPECT_EQ(r.Total(), net::kMaxHttpResponseBytes);
    EXPECT_FALSE(r.Append("b"));
    EXPECT_EQ(r.Total(), net::kMaxHttpResponseBytes);
}

// --- Chunked transfer coding ---------------------------------------------------------------------

TEST(HttpChunked, CutAtEveryPairOfPositionsDecodesLikeTheWhole) {
    const QByteArray response =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;a=\"b;c\"\r\nh\r\n" +
        platform::ToCp932(u"名") + "\r\n09 ;e\r\n" + platform::ToCp932(u"前") +
        ",::/0\r\n\r\n0\r\nX: y\r\n\r\n";
    const QStringList lines{QStringLiteral("h"), QStringLiteral("名前,::/0")};
    for (qsizetype cut1 = 0; cut1 <= response.size(); ++cut1) {
        for (qsizetype cut2 = cut1; cut2 <= response.size(); ++cut2) {
            CHttpResponse r;
            r.Append(response.left(cut1));
            r.Append(response.mid(cut1, cut2 - cut1));
            EXPECT_EQ(r.IsComplete(), cut2 == response.size()) << cut1 << " " << cut2;
            r.Append(response.mid(cut2));
            ASSERT_TRUE(r.IsComplete()) << cut1 << " " << cut2;
            EXPECT_FALSE(r.IsFramingBroken());
            EXPECT_EQ(r.BodyElements(), lines) << cut1 << " " << cut2;
        }
    }
}

// --- Status and body ---------------------------------------------------------------------------

TEST(HttpStatus, TheSecondWordOfTheStatusLine) {
    EXPECT_EQ(Whole("HTTP/1.1 200 OK\r\n\r\n").Status(), QStringLiteral("200"));
    EXPECT_EQ(Whole("HTTP/1.1 404 Not Found\r\n\r\n").Status(), QStringLiteral("404"));
    EXPECT_EQ(Whole("HTTP/1.1 200\r\nA: b c\r\n\r\n").Status(), QStringLiteral("200"));
    EXPECT_EQ(Whole("HTTP/1.1\r\nA: b c\r\n\r\n").Status(), QString());
    EXPECT_EQ(Whole("garbage").Status(), QString());
    EXPECT_TRUE(Whole("HTTP/1.1 200 OK\r\n\r\n").IsStatusOk());
    EXPECT_FALSE(Whole("HTTP/1.1 2000 OK\r\n\r\n").IsStatusOk());
    EXPECT_FALSE(Whole("HTTP/1.1 201 Created\r\n\r\n").IsStatusOk());
}

TEST(HttpBody, LineFeedsAloneAndEmptyLinesAreKept) {
    const CHttpResponse r = Whole("HTTP/1.1 200 OK\r\n\r\na\nb\r\n\r\nc");
    EXPECT_EQ(r.BodyElements(), (QStringList{"a", "b", "", "c"}));
}

TEST(HttpBody, IsConvertedFromCp932InOnePiece) {
    const QByteArray body = platform::ToCp932(u"見出し\r\nネット,2001:db8::/32表\r\n");
    const QByteArray response = "HTTP/1.1 200 OK\r\n\r\n" + body;
    // Split inside every double-byte character: the text is the same.
    for (qsizetype cut = 0; cut <= response.size(); ++cut) {
        CHttpResponse r;
        r.Append(response.left(cut));
        r.Append(response.mid(cut));
        EXPECT_EQ(r.BodyElements(),
                  (QStringList{QStringLiteral("見出し"), QStringLiteral("ネット,2001:db8::/32表")}))
            << cut;
    }
}

TEST(HttpBody, NulBytesAreDropped) {
    static const char raw[] =
        "HTTP/1.1 200 OK\r\n\r\nh\r\nx,2001:db8::/3\0"
        "2\r\n";
    const CHttpResponse r = Whole(QByteArray(raw, sizeof(raw) - 1));
    EXPECT_EQ(r.BodyElements(), (QStringList{"h", "x,2001:db8::/32"}));
}

TEST(HttpBody, BytesBeyondTheContentLengthAreNotBody) {
    const CHttpResponse r =
        Whole("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nh\r\na,b\r\nextra,line\r\n");
    EXPECT_TRUE(r.IsComplete());
    EXPECT_EQ(r.BodyElements(), (QStringList{"h", "a,b"}));
}

TEST(HttpBody, ControlCodesGoThroughTheCodePageLayer) {
    const QByteArray body("h\r\na,\x1a\x1c\x7f\r\n");
    const CHttpResponse r = Whole("HTTP/1.1 200 OK\r\n\r\n" + body);
    EXPECT_EQ(r.BodyElements().value(1),
              QStringLiteral("a,") + platform::FromCp932("\x1a\x1c\x7f"));
}

TEST(HttpBody, SameAsConvertingFirstAndReplacingLineEndsInTheText) {
    // Bodies made of whole characters, line ends, lone carriage returns and NUL bytes.
    // Half of the rounds plain ASCII, the other half with every kind of byte.
    const QList<QByteArray> tokens = {"\r",       "\n",   "a",       ",", QByteArray(1, '\0'),
                                      "\x82\xa0", "\x1a", "\x93\xfa"};
    std::mt19937 rng(12345);
    for (int round = 0; round < 4000; ++round) {
        const std::size_t kinds = round % 2 == 0 ? 4 : tokens.size();
        QByteArray body;
        const int n = int(rng() % 24);
        for (int i = 0; i < n; ++i) body += tokens[qsizetype(rng() % kinds)];
        QByteArray noNul = body;
        noNul.removeIf([](char c) { return c == '\0'; });
        QString text = platform::FromCp932(noNul);
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        const QStringList expected = SplitString(text, QStringLiteral("\n"));
        EXPECT_EQ(Whole("HTTP/1.1 200 OK\r\n\r\n" + body).BodyElements(), expected)
            << body.toHex().constData();
    }
}

}  // namespace
