// The DHCPv6 message codec: the Information-request byte for byte, the transaction id and the
// time, the option walk and the prefix-policy entries, all reads bounded by what was received.
#include <gtest/gtest.h>

#include <QByteArray>
#include <cstdlib>
#include <ctime>
#include <set>
#include <tuple>

#include "net/dhcp.h"
#include "support/testsupport.h"

namespace {

using testsupport::CTestApp;

QByteArray Bytes(const QByteArray& hex) { return QByteArray::fromHex(hex); }

QByteArray Packet(CDhcp& message) {
    const std::uint8_t* p = message.GetPacket();
    return QByteArray(reinterpret_cast<const char*>(p), message.GetPacketLength());
}

CDhcpOptionClientId ClientId(std::uint32_t time, const QByteArray& address) {
    CDhcpOptionClientId id;
    id.m_nTime = time;
    id.m_nLinkLayerAddressLength = int(address.size());
    for (qsizetype i = 0; i < address.size(); ++i)
        id.m_byLinkLayerAddress[i] = std::uint8_t(address[i]);
    id.GeneratePacket();
    return id;
}

// Parses a reply and returns its rows from every option with the code.
CPolicyList RowsOf(const QByteArray& reply, std::uint16_t code = 27) {
    CDhcp message;
    message.ParsePacket(int(reply.size()),
                        reinterpret_cast<const std::uint8_t*>(reply.constData()));
    CPolicyList rows;
    for (const CDhcpOption& option : message.m_clOption) {
        if (option.m_sCode != code) continue;
        CDhcpOptionPrefixPolicy policy;
        if (code == CDhcpOptionPrefixPolicy::kAddrSelCode)
            policy.ParseAddrSel(option, rows);
        else
            policy.ParsePolicy(option, rows);
    }
    message.Release();
    return rows;
}

// A reply carrying one option with the code and data.
QByteArray ReplyWith(const QByteArray& dataHex, std::uint16_t code = 27) {
    const QByteArray data = Bytes(dataHex);
    QByteArray reply = Bytes("07a1b2c3");
    reply += char(code >> 8);
    reply += char(code & 0xFF);
    reply += char(data.size() >> 8);
    reply += char(data.size() & 0xFF);
    reply += data;
    return reply;
}

// --- The Information-request ------------------------------------------------------------------

TEST(DhcpRequest, WithSixByteAddressIs28BytesByteForByte) {
    CTestApp app;
    CDhcp message;
    message.m_byMessageType = 11;
    message.m_byTransactionId = {0x12, 0x34, 0x56};
    message.AddOption(ClientId(0x2A3B4C5D, Bytes("0011223344aa")));
    CDhcpOptionElapsedTime elapsed;
    elapsed.GeneratePacket();
    message.AddOption(elapsed);

    EXPECT_EQ(message.GetPacketLength(), 28);
    EXPECT_EQ(Packet(message).toHex(), QByteArray("0b123456"
                                                  "0001000e00010001"
                                                  "2a3b4c5d"
                                                  "0011223344aa"
                                                  "000800020000"));
    message.Release();
}

TEST(DhcpRequest, OptionRequestFollowsTheElapsedTime) {
    CTestApp app;
    const struct {
        QList<std::uint16_t> codes;
        QByteArray hex;
    } cases[] = {{{27}, "00060002001b"},
                 {{84}, "000600020054"},
                 {{250, 84}, "0006000400fa0054"},
                 {{}, "00060000"}};
    for (const auto& c : cases) {
        CDhcp message;
        message.m_byMessageType = 11;
        message.m_byTransactionId = {0x12, 0x34, 0x56};
        message.AddOption(ClientId(0x2A3B4C5D, Bytes("0011223344aa")));
        CDhcpOptionElapsedTime elapsed;
        elapsed.GeneratePacket();
        message.AddOption(elapsed);
        CDhcpOptionRequest oro;
        oro.m_clCode = c.codes;
        oro.GeneratePacket();
        message.AddOption(oro);
        EXPECT_EQ(message.GetPacketLength(), 28 + c.hex.size() / 2);
        EXPECT_EQ(Packet(message).toHex(),
                  "0b123456"
                  "0001000e000100012a3b4c5d0011223344aa"
                  "000800020000" +
                      c.hex);
        message.Release();
    }
}

TEST(DhcpRequest, ClientIdWithoutAdapterCarriesTypeHardwareAndTimeOnly) {
    CTestApp app;
    CDhcpOptionClientId id = ClientId(0x01020304, QByteArray());
    EXPECT_EQ(id.Packet().toHex(), QByteArray("000100080001000101020304"));
    EXPECT_EQ(id.m_nTotalLength, 12);
}

TEST(DhcpRequest, ClientIdOfAnotherDuidTypeLeavesTheTimeOut) {
    CTestApp app;
    CDhcpOptionClientId id;
    id.m_sDUIDType = 3;
    id.m_nTime = 0xFFFFFFFF;
    id.m_nLinkLayerAddressLength = 2;
    id.m_byLinkLayerAddress[0] = 0xAB;
    id.m_byLinkLayerAddress[1] = 0xCD;
    id.GeneratePacket();
    EXPECT_EQ(id.Packet().toHex(), QByteArray("00010006"
                                              "0003"
                                              "0001"
                                              "abcd"));
}

TEST(DhcpRequest, ClientIdOfEightByteAddress) {
    CTestApp app;
    CDhcpOptionClientId id = ClientId(0, Bytes("0102030405060708"));
    EXPECT_EQ(id.Packet().toHex(), QByteArray("000100100001000100000000"
                                              "0102030405060708"));
}

TEST(DhcpRequest, ElapsedTimeIsSixBytes) {
    CTestApp app;
    CDhcpOptionElapsedTime elapsed;
    elapsed.GeneratePacket();
    EXPECT_EQ(elapsed.Packet().toHex(), QByteArray("000800020000"));
}

TEST(DhcpRequest, ClientIdTracesDuidTypeOne) {
    CTestApp app;
    ClientId(0, QByteArray());
    EXPECT_TRUE(app.LogLines().filter(QStringLiteral("m_sDUIDType=1")).size() == 1);
}

// --- Transaction id and time -------------------------------------------------------------------

TEST(DhcpTransactionId, IsTheLow24BitsOfTheProductMostSignificantFirst) {
    EXPECT_EQ(CDhcp::TransactionIdFromDraws(256, 255),
              (std::array<std::uint8_t, 3>{0x00, 0xFF, 0x00}));
    // 32767 * 32767 = 0x3FFF0001: the top byte is cut off.
    EXPECT_EQ(CDhcp::TransactionIdFromDraws(32767, 32767),
              (std::array<std::uint8_t, 3>{0xFF, 0x00, 0x01}));
    EXPECT_EQ(CDhcp::TransactionIdFromDraws(0, 12345), (std::array<std::uint8_t, 3>{0, 0, 0}));
    // 0x1234 * 0x11 = 0x135774
    EXPECT_EQ(CDhcp::TransactionIdFromDraws(0x1234, 0x11),
              (std::array<std::uint8_t, 3>{0x01, 0x35, 0x74}));
}

TEST(DhcpTransactionId, EveryMessageDrawsAFreshId) {
    CTestApp app;
    std::set<std::array<std::uint8_t, 3>> ids;
    for (int i = 0; i < 20; ++i) {
        CDhcp message;
        message.GenerateTransactionId();
        ids.insert(message.m_byTransactionId);
    }
    EXPECT_GT(ids.size(), 15u);  // drawn in the same second, yet different
}

TEST(DhcpTime, CountsSecondsSince2000Utc) {
    EXPECT_EQ(CDhcpOptionClientId::SecondsSince2000(946684800), 0u);
    EXPECT_EQ(CDhcpOptionClientId::SecondsSince2000(946684800 + 86400 + 5), 86405u);
    // 2026-01-01 00:00:00 UTC
    EXPECT_EQ(CDhcpOptionClientId::SecondsSince2000(1767225600), 820540800u);
}

TEST(DhcpTime, IsTheSameInEveryTimeZone) {
    CTestApp app;
    const QByteArray saved = qgetenv("TZ");
    std::uint32_t values[2];
    const char* zones[2] = {"Asia/Tokyo", "America/New_York"};
    for (int i = 0; i < 2; ++i) {
        qputenv("TZ", zones[i]);
        tzset();
        CDhcpOptionClientId id;
        const std::time_t before = std::time(nullptr);
        id.GenerateTime();
        values[i] = id.m_nTime - CDhcpOptionClientId::SecondsSince2000(before);
        EXPECT_LE(values[i], 1u) << zones[i];
    }
    if (saved.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", saved);
    tzset();
}

// --- Option walk -------------------------------------------------------------------------------

TEST(DhcpParse, ReadsTypeIdAndOptionsInOrder) {
    CTestApp app;
    const QByteArray reply = Bytes(
        "07abcdef"
        "000100020102"
        "001b0000"
        "00080002ffff");
    CDhcp message;
    message.ParsePacket(int(reply.size()),
                        reinterpret_cast<const std::uint8_t*>(reply.constData()));
    EXPECT_EQ(message.m_byMessageType, 7);
    EXPECT_EQ(message.m_byTransactionId, (std::array<std::uint8_t, 3>{0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(message.m_nPacketLength, reply.size());
    ASSERT_EQ(message.m_clOption.size(), 3);
    EXPECT_EQ(message.m_clOption[0].m_sCode, 1);
    EXPECT_EQ(message.m_clOption[0].Packet().toHex(), QByteArray("000100020102"));
    EXPECT_EQ(message.m_clOption[1].m_sCode, 27);
    EXPECT_EQ(message.m_clOption[1].m_nTotalLength, 4);
    EXPECT_EQ(message.m_clOption[2].m_sCode, 8);
    EXPECT_EQ(message.m_clOption[2].m_sLength, 2);
    message.Release();
}

TEST(DhcpParse, FourBytesOrFewerHaveNoOptions) {
    CTestApp app;
    for (const QByteArray& reply : {Bytes("07010203"), Bytes("0701"), QByteArray()}) {
        CDhcp message;
        message.ParsePacket(int(reply.size()),
                            reinterpret_cast<const std::uint8_t*>(reply.constData()));
        EXPECT_TRUE(message.m_clOption.isEmpty());
        EXPECT_EQ(message.m_byMessageType, reply.isEmpty() ? 0 : 7);
    }
}

TEST(DhcpParse, AHeaderCutByTheEndStopsTheWalk) {
    CTestApp app;
    const QByteArray reply = Bytes(
        "07000001"
        "000100020102"
        "001b00");
    CDhcp message;
    message.ParsePacket(int(reply.size()),
                        reinterpret_cast<const std::uint8_t*>(reply.constData()));
    ASSERT_EQ(message.m_clOption.size(), 1);
    EXPECT_EQ(message.m_clOption[0].m_sCode, 1);
}

TEST(DhcpParse, DataPassingTheEndStopsTheWalk) {
    CTestApp app;
    // The second option claims 16 data bytes; 3 arrived.
    const QByteArray reply = Bytes(
        "07000001"
        "000100020102"
        "001b0010"
        "0a2800");
    CDhcp message;
    message.ParsePacket(int(reply.size()),
                        reinterpret_cast<const std::uint8_t*>(reply.constData()));
    ASSERT_EQ(message.m_clOption.size(), 1);
    EXPECT_TRUE(RowsOf(reply).isEmpty());
}

TEST(DhcpParse, CountBelowTheBufferIsRespected) {
    CTestApp app;
    // The buffer holds a whole option, the count says only part of it was received.
    const QByteArray buffer = Bytes(
        "07000001"
        "001b000a"
        "0a28003020010db80001");
    CDhcp message;
    message.ParsePacket(10, reinterpret_cast<const std::uint8_t*>(buffer.constData()));
    EXPECT_TRUE(message.m_clOption.isEmpty());
}

TEST(DhcpParse, ReleaseIsSafeTwiceAndTracesOnce) {
    CTestApp app;
    CDhcp message;
    message.m_byMessageType = 11;
    CDhcpOptionElapsedTime elapsed;
    elapsed.GeneratePacket();
    message.AddOption(elapsed);
    message.GetPacket();
    message.Release();
    message.Release();
    EXPECT_FALSE(message.m_bPacket);
    EXPECT_FALSE(message.m_clOption[0].m_bPacket);
    EXPECT_TRUE(message.m_clOption[0].Packet().isEmpty());
    // One line for the packet, one for the option.
    EXPECT_EQ(app.LogLines().filter(QStringLiteral("m_bPacket=true")).size(), 2);
}

// --- Prefix-policy entries ---------------------------------------------------------------------

TEST(DhcpPolicy, OneEntryGivesOneSwitchedOffNetworkRow) {
    CTestApp app;
    const CPolicyList rows = RowsOf(ReplyWith("0a2800302001 0db80001"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csLabel, QStringLiteral("10"));
    EXPECT_EQ(rows[0].m_csPriority, QStringLiteral("40"));
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
    EXPECT_EQ(rows[0].m_nSource, 1);
    EXPECT_TRUE(rows[0].m_bDisabled);
    EXPECT_EQ(rows[0].m_csNetworkName, QStringLiteral("Network(DHCP_DEFAULT)"));
}

TEST(DhcpPolicy, NetworkNameComesFromTheSettings) {
    CTestApp app;
    app.SetSetting(QStringLiteral("DHCP"), QStringLiteral("NETWORK_NAME"),
                   QStringLiteral("社内網"));
    const CPolicyList rows =
        RowsOf(ReplyWith("0a2800302001 0db80001"
                         "00000000"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].m_csNetworkName, QStringLiteral("社内網"));
    EXPECT_EQ(rows[1].m_csNetworkName, QStringLiteral("社内網"));
}

TEST(DhcpPolicy, PrefixLengthZeroCarriesNoBytes) {
    CTestApp app;
    const CPolicyList rows =
        RowsOf(ReplyWith("00000000"
                         "01020010fe80"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("::/0"));
    EXPECT_EQ(rows[0].m_csLabel, QStringLiteral("0"));
    EXPECT_EQ(rows[0].m_csPriority, QStringLiteral("0"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("fe80::/16"));
}

TEST(DhcpPolicy, PrefixLengthSevenCarriesTwoBytes) {
    CTestApp app;
    const CPolicyList rows =
        RowsOf(ReplyWith("05060007fc00"
                         "ffff0010 2002"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("fc00::/7"));
    EXPECT_EQ(rows[1].m_csLabel, QStringLiteral("255"));
    EXPECT_EQ(rows[1].m_csPriority, QStringLiteral("255"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("2002::/16"));
}

TEST(DhcpPolicy, PrefixLength128CarriesSixteenBytes) {
    CTestApp app;
    const CPolicyList rows =
        RowsOf(ReplyWith("2a330080"
                         "00000000000000000000000000000001"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("::1/128"));
    EXPECT_EQ(rows[0].m_csLabel, QStringLiteral("42"));
    EXPECT_EQ(rows[0].m_csPriority, QStringLiteral("51"));
}

TEST(DhcpPolicy, PrefixLength255CarriesThirtyTwoBytesUnchecked) {
    CTestApp app;
    const QByteArray prefix(32, '\x11');
    const CPolicyList rows = RowsOf(ReplyWith("010100ff" + prefix.toHex() + "00000000"));
    ASSERT_EQ(rows.size(), 2);
    QStringList groups;
    for (int i = 0; i < 16; ++i) groups << QStringLiteral("1111");
    EXPECT_EQ(rows[0].m_csAddress, groups.join(u':') + QStringLiteral("/255"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("::/0"));
}

TEST(DhcpPolicy, AnEntryCutInItsHeaderKeepsTheRowsBefore) {
    CTestApp app;
    const CPolicyList rows =
        RowsOf(ReplyWith("0a2800302001 0db80001"
                         "0a28"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
}

TEST(DhcpPolicy, AnEntryCutInItsPrefixKeepsTheRowsBefore) {
    CTestApp app;
    const CPolicyList rows =
        RowsOf(ReplyWith("00000000"
                         "0a2800302001 0db8"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("::/0"));
    EXPECT_TRUE(app.LogLines().filter(QStringLiteral("nOffset=")).size() >= 1);
}

TEST(DhcpPolicy, AnOptionShorterThanItsDeclaredLengthIsReadOnlyAsFarAsHeld) {
    CTestApp app;
    // An option object whose declared total passes the bytes it holds.
    const QByteArray bytes = Bytes(
        "001b0010"
        "00000000"
        "0a283000");
    CDhcpOption option;
    ASSERT_TRUE(
        option.ParsePacket(0, std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                        std::size_t(bytes.size()))) == false);
    const QByteArray whole = Bytes(
        "001b0008"
        "00000000"
        "00000000");
    ASSERT_TRUE(
        option.ParsePacket(0, std::span(reinterpret_cast<const std::uint8_t*>(whole.constData()),
                                        std::size_t(whole.size()))));
    option.m_nTotalLength = 4000;  // claims more than it holds
    CPolicyList rows;
    CDhcpOptionPrefixPolicy policy;
    policy.ParsePolicy(option, rows);
    EXPECT_EQ(rows.size(), 2);
}

TEST(DhcpPolicy, OnlyOptionsWithTheCodeCount) {
    CTestApp app;
    QByteArray reply = ReplyWith("0a2800302001 0db80001", 27);
    const QByteArray other = ReplyWith("01010010 2002", 28).mid(4);
    const QByteArray second = ReplyWith("02020000", 27).mid(4);
    reply += other + second;
    const CPolicyList rows = RowsOf(reply, 27);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
    EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("::/0"));
    EXPECT_EQ(RowsOf(reply, 28).size(), 1);
}

TEST(DhcpPolicy, EmptyOptionGivesNoRows) {
    CTestApp app;
    EXPECT_TRUE(RowsOf(ReplyWith("")).isEmpty());
}

TEST(DhcpPolicy, WorksWithoutAnApplication) {
    const CPolicyList rows = RowsOf(ReplyWith("0a2800302001 0db80001"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csNetworkName, QStringLiteral("Network(DHCP_DEFAULT)"));
}

// --- Address-selection option (84) with its table options (85) ------------------------------

TEST(DhcpAddrSel, TableOptionsBecomeRowsUntilOneIsMalformed) {
    const QByteArray kEntry48 =
        "00550009"
        "0a2830"
        "20010db80001";  // 2001:db8:1::/48
    const struct {
        const char* name;
        QByteArray data;   // the option's data: flags, then the table options
        QStringList rows;  // "label precedence prefix"
    } cases[] = {
        {"two entries",
         "00" + kEntry48 +
             "00550003"
             "010200",
         {"10 40 2001:db8:1::/48", "1 2 ::/0"}},
        {"7 bits take one byte",
         "00"
         "00550004"
         "050607"
         "fc",
         {"5 6 fc00::/7"}},
        {"33 bits take five bytes",
         "00"
         "00550008"
         "010221"
         "20010db880",
         {"1 2 2001:db8:8000::/33"}},
        {"128 bits take sixteen bytes",
         "01"
         "00550013"
         "2a3380"
         "00000000000000000000000000000001",
         {"42 51 ::1/128"}},
        {"bytes after the prefix are passed over",
         "00"
         "0055000a"
         "0a2830"
         "20010db80001ff" +
             kEntry48,
         {"10 40 2001:db8:1::/48", "10 40 2001:db8:1::/48"}},
        {"another option inside is skipped",
         "00"
         "00010002abcd" +
             kEntry48,
         {"10 40 2001:db8:1::/48"}},
        {"flags alone", "03", {}},
        {"no data", "", {}},
        {"a header cut by the end", "00" + kEntry48 + "0055", {"10 40 2001:db8:1::/48"}},
        {"data cut by the end",
         "00" + kEntry48 +
             "00550009"
             "0a2830"
             "2001",
         {"10 40 2001:db8:1::/48"}},
        {"too short for its prefix",
         "00"
         "00550004"
         "0a2830"
         "2001" +
             kEntry48,
         {}},
        {"shorter than three bytes",
         "00"
         "00550002"
         "0101" +
             kEntry48,
         {}},
        {"more than 128 bits",
         "00"
         "00550013"
         "010181" +
             QByteArray(32, '0') + kEntry48,
         {}},
    };
    for (const auto& c : cases) {
        CTestApp app;
        QStringList got;
        for (const CPolicy& row : RowsOf(ReplyWith(c.data, 84), 84)) {
            got << row.m_csLabel + u' ' + row.m_csPriority + u' ' + row.m_csAddress;
            EXPECT_TRUE(row.m_bDisabled && row.m_nSource == 1) << c.name;
            EXPECT_EQ(row.m_csNetworkName, QStringLiteral("Network(DHCP_DEFAULT)")) << c.name;
        }
        EXPECT_EQ(got, c.rows) << c.name;
    }
}

TEST(DhcpAddrSel, TheFlagsAreTracedOnly) {
    for (const auto& [flags, a, p] :
         {std::tuple("02", "TRUE", "FALSE"), std::tuple("fd", "FALSE", "TRUE")}) {
        CTestApp app;
        EXPECT_EQ(RowsOf(ReplyWith(QByteArray(flags) + "00550003010200", 84), 84).size(), 1);
        EXPECT_EQ(app.LogLines()
                      .filter(QStringLiteral("bAutomaticRowAddition=") + QLatin1String(a))
                      .size(),
                  1);
        EXPECT_EQ(
            app.LogLines().filter(QStringLiteral("bPrivacyPreference=") + QLatin1String(p)).size(),
            1);
    }
}

}  // namespace
