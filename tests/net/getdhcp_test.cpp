// GetDhcp across a real link: the code under test runs in one network namespace, a responder
// joined to ff02::1:2 in another, the two joined by a veth pair.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <future>

#include "dhcpresponder.h"
#include "net/dhcp.h"
#include "netns.h"
#include "platform/cancelevent.h"
#include "platform/hwaddr.h"
#include "platform/socket.h"
#include "policy/policylistmanager.h"
#include "support/testsupport.h"

namespace {

using nettest::CVethLink;
using testsupport::CTestApp;

constexpr int kWaitMs = 3000;
constexpr int kShortWaitMs = 800;

QByteArray Option(std::uint16_t code, const QByteArray& data) {
    QByteArray o;
    o += char(code >> 8);
    o += char(code & 0xFF);
    o += char(data.size() >> 8);
    o += char(data.size() & 0xFF);
    return o + data;
}

// A message of the type with the request's transaction id (or another one) and the options.
QByteArray Message(std::uint8_t type, const QByteArray& request, const QByteArray& options,
                   bool otherId = false) {
    QByteArray m;
    m += char(type);
    QByteArray id = request.mid(1, 3);
    if (otherId) id[2] = char(id[2] ^ 0x5A);
    return m + id + options;
}

const QByteArray kEntryA = QByteArray::fromHex("0a28003020010db80001");  // 2001:db8:1::/48
const QByteArray kEntryB = QByteArray::fromHex("01020000");              // ::/0
const QByteArray kEntryC = QByteArray::fromHex("05060007fc00");          // fc00::/7

using nettest::CResponder;

class GetDhcpOnALink : public ::testing::Test {
protected:
    void SetUp() override {
        const QString unavailable = nettest::NamespaceTestsUnavailable();
        if (!unavailable.isEmpty()) GTEST_SKIP() << unavailable.toStdString();
        QString reason;
        ASSERT_TRUE(link.Create(&reason)) << reason.toStdString();
    }

    // Runs GetDhcp in the client namespace while the responder answers with the script.
    int Exchange(CResponder::Script script, int waitMs = kWaitMs) {
        responder.Start(link.ServerNamespace(), std::move(script));
        EXPECT_TRUE(responder.m_ready);
        int result = -1;
        CVethLink::RunIn(link.ClientNamespace(), [&] {
            CPolicyListManager manager;
            manager.SetNetworkWaitForTesting(waitMs);
            result = manager.GetDhcp(rows);
        });
        responder.Join();
        return result;
    }

    bool LogHas(const QString& text) {
        for (const QString& l : app.LogLines())
            if (l.endsWith(u',' + text)) return true;
        return false;
    }
    void ExpectMessage(int id) {
        ASSERT_EQ(app.Boxes().shown.size(), 1);
        EXPECT_EQ(app.Boxes().shown[0].text, app.App().LoadString(id));
        EXPECT_EQ(app.Boxes().shown[0].kind, LOG_ERROR);
    }

    CTestApp app;
    CVethLink link;
    CResponder responder;
    CPolicyList rows;
};

TEST_F(GetDhcpOnALink, SendsOneInformationRequestFromPort546) {
    // The Option Request names the policy option; REQUEST_OPTION=0 sends the request without it.
    const struct {
        const char* code;
        const char* requestOption;
        QByteArray oro;
    } cases[] = {{nullptr, nullptr, "00060002001b"}, {"84", "1", "000600020054"}, {"250", "0", ""}};
    for (const auto& c : cases) {
        responder.Reset();
        if (c.code) app.SetSetting(QStringLiteral("DCHP"), QStringLiteral("OPTION_CODE"), c.code);
        if (c.requestOption)
            app.SetSetting(QStringLiteral("DCHP"), QStringLiteral("REQUEST_OPTION"),
                           c.requestOption);
        const std::time_t before = std::time(nullptr);
        Exchange([](const QByteArray& r) { return QList<QByteArray>{Message(7, r, {})}; });
        const QByteArray& request = responder.m_request;
        ASSERT_EQ(request.size(), 28 + c.oro.size() / 2);
        EXPECT_EQ(std::uint8_t(request[0]), 11);
        EXPECT_EQ(request.mid(4, 8).toHex(), QByteArray("0001000e00010001"));
        const std::uint32_t time = (std::uint32_t(std::uint8_t(request[12])) << 24) |
                                   (std::uint32_t(std::uint8_t(request[13])) << 16) |
                                   (std::uint32_t(std::uint8_t(request[14])) << 8) |
                                   std::uint8_t(request[15]);
        EXPECT_GE(time, CDhcpOptionClientId::SecondsSince2000(before));
        EXPECT_LE(time, CDhcpOptionClientId::SecondsSince2000(before) + 5);
        // The first adapter of the client's namespace is its end of the link.
        EXPECT_EQ(request.mid(16, 6).toHex(), link.ClientMac().toHex());
        EXPECT_EQ(request.mid(22).toHex(), "000800020000" + c.oro);
        EXPECT_EQ(responder.m_sourcePort, 546);
        EXPECT_TRUE(responder.m_source.startsWith(QStringLiteral("fe80:")));
    }
}

TEST_F(GetDhcpOnALink, ReplyWithThePolicyOptionOfTheDefaultCode) {
    const int result = Exchange([](const QByteArray& r) {
        return QList<QByteArray>{
            Message(7, r, Option(2, "server") + Option(27, kEntryA + kEntryB))};
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
    EXPECT_EQ(rows[0].m_csLabel, QStringLiteral("10"));
    EXPECT_EQ(rows[0].m_csPriority, QStringLiteral("40"));
    EXPECT_EQ(rows[0].m_nSource, 1);
    EXPECT_TRUE(rows[0].m_bDisabled);
    EXPECT_EQ(rows[0].m_csNetworkName, QStringLiteral("Network(DHCP_DEFAULT)"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("::/0"));
    EXPECT_TRUE(app.Boxes().shown.isEmpty());
    EXPECT_FALSE(app.App().m_bNetworkUse);
    EXPECT_TRUE(LogHas(QStringLiteral("CPolicyListManagerクラスのGetDhcpの処理を終了します。")));
}

TEST_F(GetDhcpOnALink, DefaultCodeWithoutAnyDchpSection) {
    // A settings file without the section: the code is 27; the "DHCP" section is not asked.
    QByteArray ini = testsupport::ReadFile(app.Install().Conf(QStringLiteral("zarntool.ini")));
    ini.replace("[DCHP]\r\nOPTION_CODE=27", "[DHCP]\r\nOPTION_CODE=99");
    ini.replace("[DCHP]\nOPTION_CODE=27", "[DHCP]\nOPTION_CODE=99");
    ASSERT_TRUE(testsupport::WriteFile(app.Install().Conf(QStringLiteral("zarntool.ini")), ini));
    ASSERT_FALSE(ini.contains("[DCHP]"));
    const int result = Exchange([](const QByteArray& r) {
        return QList<QByteArray>{Message(7, r, Option(99, kEntryC) + Option(27, kEntryA))};
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
}

TEST_F(GetDhcpOnALink, ReplyWithAConfiguredCode) {
    app.SetSetting(QStringLiteral("DCHP"), QStringLiteral("OPTION_CODE"), QStringLiteral("250"));
    app.SetSetting(QStringLiteral("DHCP"), QStringLiteral("NETWORK_NAME"), QStringLiteral("拠点"));
    const int result = Exchange([](const QByteArray& r) {
        return QList<QByteArray>{Message(7, r, Option(27, kEntryA) + Option(250, kEntryC))};
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("fc00::/7"));
    EXPECT_EQ(rows[0].m_csNetworkName, QStringLiteral("拠点"));
}

// A Reply without the policy option, or whose option yields no valid row, says so in one
// message naming the code; some valid rows beside invalid ones give the count of those left out.
TEST_F(GetDhcpOnALink, AReplyWithoutAValidRowSaysSo) {
    const QByteArray kInvalid = QByteArray::fromHex("010100ff") + QByteArray(32, '\x11');
    const struct {
        const char* name;
        QByteArray options;
        int rows;
        QString message;
    } cases[] = {
        {"no policy option", Option(2, "server") + Option(13, QByteArray(2, '\0')), 0,
         QStringLiteral("サーバは有効なポリシを含まない応答を返しました。（OPTION_CODE=27）")},
        {"an empty policy option", Option(27, {}), 0,
         QStringLiteral("サーバは有効なポリシを含まない応答を返しました。（OPTION_CODE=27）")},
        {"only invalid rows", Option(27, kInvalid + kInvalid), 0,
         QStringLiteral("サーバは有効なポリシを含まない応答を返しました。（OPTION_CODE=27）")},
        {"valid and invalid rows", Option(27, kInvalid + kEntryA), 1,
         QStringLiteral("取得したデータのうち1行は不正な形式のため取り込みませんでした。")},
    };
    for (const auto& c : cases) {
        responder.Reset();
        rows.clear();
        app.Boxes().shown.clear();
        const QByteArray options = c.options;
        EXPECT_EQ(Exchange([options](const QByteArray& r) {
                      return QList<QByteArray>{Message(7, r, options)};
                  }),
                  1)
            << c.name;
        EXPECT_EQ(rows.size(), c.rows) << c.name;
        ASSERT_EQ(app.Boxes().shown.size(), 1) << c.name;
        EXPECT_EQ(app.Boxes().shown[0].text, c.message) << c.name;
        EXPECT_EQ(app.Boxes().shown[0].kind, LOG_WARN) << c.name;
    }
    EXPECT_TRUE(LogHas(QStringLiteral("bPolicyOption=FALSE")));
    EXPECT_TRUE(LogHas(QStringLiteral("nLeftOut=2")));
}

TEST_F(GetDhcpOnALink, ReplyWithTwoPolicyOptions) {
    const int result = Exchange([](const QByteArray& r) {
        return QList<QByteArray>{
            Message(7, r, Option(27, kEntryC) + Option(3, "x") + Option(27, kEntryA + kEntryB))};
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("fc00::/7"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("2001:db8:1::/48"));
    EXPECT_EQ(rows[2].m_csAddress, QStringLiteral("::/0"));
}

TEST_F(GetDhcpOnALink, AnAdvertiseIsNotAnAnswer) {
    const int result = Exchange(
        [](const QByteArray& r) { return QList<QByteArray>{Message(2, r, Option(27, kEntryA))}; });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(rows.isEmpty());
    ExpectMessage(504);
    EXPECT_FALSE(app.App().m_bNetworkUse);
}

TEST_F(GetDhcpOnALink, AWrongTransactionIdIsDroppedAndTheRightOneTaken) {
    const int result = Exchange([](const QByteArray& r) {
        return QList<QByteArray>{Message(7, r, Option(27, kEntryC), /*otherId=*/true),
                                 Message(7, r, Option(27, kEntryA))};
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
    EXPECT_TRUE(LogHas(QStringLiteral("bTransactionId=FALSE")));
}

TEST_F(GetDhcpOnALink, OnlyAWrongTransactionIdTimesOut) {
    const auto start = std::chrono::steady_clock::now();
    const int result = Exchange(
        [](const QByteArray& r) {
            return QList<QByteArray>{Message(7, r, Option(27, kEntryC), /*otherId=*/true),
                                     QByteArray("\x07\x01", 2)};
        },
        kShortWaitMs);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_GE(took, std::chrono::milliseconds(kShortWaitMs - 50));
    EXPECT_TRUE(LogHas(QStringLiteral("bTransactionId=FALSE")));
    EXPECT_TRUE(LogHas(QStringLiteral("recvfrom=11")));
    ExpectMessage(503);
}

TEST_F(GetDhcpOnALink, AFloodOfForeignDatagramsCannotStretchTheWait) {
    // Datagrams with another transaction id keep arriving for three times the wait.
    responder.m_answerPauseMs = 4;
    const auto start = std::chrono::steady_clock::now();
    const int result = Exchange(
        [](const QByteArray& r) {
            return QList<QByteArray>(3 * kShortWaitMs / 4,
                                     Message(7, r, Option(27, kEntryC), /*otherId=*/true));
        },
        kShortWaitMs);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("recvfrom=11")));
    ExpectMessage(503);
    EXPECT_LT(took, std::chrono::milliseconds(kShortWaitMs + 1500));  // a bound, not a speed
}

TEST_F(GetDhcpOnALink, NoAnswerTimesOut) {
    const auto start = std::chrono::steady_clock::now();
    const int result =
        Exchange([](const QByteArray&) { return QList<QByteArray>{}; }, kShortWaitMs);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(responder.m_request.size(), 34);  // the request did go out
    EXPECT_GE(took, std::chrono::milliseconds(kShortWaitMs - 50));
    EXPECT_TRUE(LogHas(QStringLiteral("recvfrom=11")));
    ExpectMessage(503);
    EXPECT_FALSE(app.App().m_bNetworkUse);
    EXPECT_FALSE(LogHas(QStringLiteral("CPolicyListManagerクラスのGetDhcpの処理を終了します。")));
}

// A cancel once the request is out ends the wait for the answer at once, long before the
// 30-second wait: nothing is fetched and nothing is shown.
TEST_F(GetDhcpOnALink, ACancelEndsTheWaitAtOnceWithoutAMessage) {
    platform::CCancelEvent cancel;
    responder.Start(link.ServerNamespace(), [&cancel](const QByteArray&) {
        cancel.Set();
        return QList<QByteArray>{};
    });
    int result = -1;
    CVethLink::RunIn(link.ClientNamespace(), [&] {
        CPolicyListManager manager;
        manager.m_pCancel = &cancel;
        result = manager.GetDhcp(rows);
    });
    responder.Join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_TRUE(app.Boxes().shown.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("bCancel=TRUE")));
    EXPECT_FALSE(app.App().m_bNetworkUse);
}

TEST_F(GetDhcpOnALink, Port546AlreadyBound) {
    int result = -1;
    CVethLink::RunIn(link.ClientNamespace(), [&] {
        platform::CSocket holder;
        ASSERT_TRUE(holder.Open(AF_INET6, SOCK_DGRAM, 0));
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_port = htons(546);
        ASSERT_EQ(::bind(holder.Get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
        CPolicyListManager manager;
        manager.SetNetworkWaitForTesting(kShortWaitMs);
        result = manager.GetDhcp(rows);
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(LogHas(QStringLiteral("bind=98")));
    ExpectMessage(502);
    EXPECT_FALSE(app.App().m_bNetworkUse);
}

TEST_F(GetDhcpOnALink, ThePortIsNotSharedWhileTheExchangeRuns) {
    // While GetDhcp waits, another socket that asks to share the port is refused.
    std::atomic<int> bindResult{0};
    std::atomic<int> bindError{0};
    std::thread intruder;
    const int result = [&] {
        responder.Start(link.ServerNamespace(), [&](const QByteArray& r) {
            // The request arrived, so the client is bound and waiting now.
            CVethLink::RunIn(link.ClientNamespace(), [&] {
                platform::CSocket other;
                other.Open(AF_INET6, SOCK_DGRAM, 0);
                const int one = 1;
                ::setsockopt(other.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
                ::setsockopt(other.Get(), SOL_SOCKET, SO_REUSEPORT, &one, sizeof(one));
                sockaddr_in6 local{};
                local.sin6_family = AF_INET6;
                local.sin6_port = htons(546);
                bindResult =
                    ::bind(other.Get(), reinterpret_cast<sockaddr*>(&local), sizeof(local));
                bindError = errno;
            });
            return QList<QByteArray>{Message(7, r, Option(27, kEntryB))};
        });
        int r = -1;
        CVethLink::RunIn(link.ClientNamespace(), [&] {
            CPolicyListManager manager;
            manager.SetNetworkWaitForTesting(kWaitMs);
            r = manager.GetDhcp(rows);
        });
        responder.Join();
        return r;
    }();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(rows.size(), 1);
    EXPECT_EQ(bindResult.load(), -1);
    EXPECT_EQ(bindError.load(), EADDRINUSE);
}

TEST_F(GetDhcpOnALink, TheFirstAdapterOfTheNamespaceIsItsLinkEnd) {
    platform::CHardwareAddress address;
    bool ok = false;
    CVethLink::RunIn(link.ClientNamespace(), [&] {
        int error = 0;
        ok = platform::FirstAdapterHardwareAddress(&address, &error);
    });
    ASSERT_TRUE(ok);
    ASSERT_EQ(address.length, 6);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(address.bytes.data()), 6).toHex(),
              link.ClientMac().toHex());
}

// Needs no link: a fetch already running makes the call return at once.
TEST(GetDhcp, ASecondFetchWhileOneRunsDoesNothing) {
    CTestApp app;
    app.App().m_bNetworkUse = true;
    CPolicyListManager manager;
    CPolicyList rows;
    EXPECT_EQ(manager.GetDhcp(rows), 1);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_TRUE(app.App().m_bNetworkUse);
    EXPECT_TRUE(app.Boxes().shown.isEmpty());
    EXPECT_TRUE(app.LogLines().filter(QStringLiteral("m_bNetworkUse=TRUE")).size() == 1);
}

}  // namespace
