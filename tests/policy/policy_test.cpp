// The policy row: construction and copying, the four validators, the decimal-number rule,
// the prefix helpers, the address normaliser and the shared splitter.
#include <arpa/inet.h>

#include <cstring>
#include <gtest/gtest.h>

#include <QRandomGenerator>

#include "policy/policy.h"
#include "support/testsupport.h"

namespace {

const QString kMsg505 = QStringLiteral("%1は必須です。%1を入力して下さい。");
const QString kMsg506 = QStringLiteral("%1の桁数が多すぎます。");
const QString kMsg507 = QStringLiteral("%1には数値のみが使用できます。");
const QString kMsg509 = QStringLiteral("%1がIpv6形式のアドレス/プレフィックス長の形式ではありません。");

void ExpectError(const CPolicy& row, int id, const QString& text) {
    EXPECT_EQ(row.m_stError.nId, id);
    EXPECT_EQ(row.m_stError.csText, text);
    EXPECT_EQ(row.m_stError.nKind, LOG_ERROR);
}

bool HasLine(const QStringList& lines, const QString& tail) {
    for (const QString& line : lines)
        if (line.endsWith(tail)) return true;
    return false;
}

}  // namespace

// --- Construction and copying -------------------------------------------------------------

TEST(PolicyRecord, NewRowIsSwitchedOffWithOriginZeroAndEmptyTexts) {
    testsupport::CTestApp t;
    CPolicy row;
    EXPECT_TRUE(row.m_bDisabled);
    EXPECT_EQ(row.m_nSource, 0);
    EXPECT_TRUE(row.m_csNetworkName.isEmpty());
    EXPECT_TRUE(row.m_csLabel.isEmpty());
    EXPECT_TRUE(row.m_csPriority.isEmpty());
    EXPECT_TRUE(row.m_csAddress.isEmpty());
    EXPECT_EQ(row.m_pApp, &t.App());
    EXPECT_EQ(row.m_stError.nId, 0);
    EXPECT_TRUE(row.m_stError.csText.isEmpty());
    EXPECT_EQ(row.m_stError.nKind, 0);
}

TEST(PolicyRecord, CopiesKeepEverythingButTheLastError) {
    testsupport::CTestApp t;
    CPolicy row;
    row.m_bDisabled = false;
    row.m_nSource = 2;
    row.m_csNetworkName = QStringLiteral("n");
    row.m_csLabel = QStringLiteral("3");
    row.m_csPriority = QStringLiteral("40");
    row.m_csAddress = QStringLiteral("2001:db8::/32");
    ASSERT_EQ(row.SetAndValidLabel(QStringLiteral("x")), 0);
    ASSERT_EQ(row.m_stError.nId, 507);

    auto expectCopy = [&](const CPolicy& copy) {
        EXPECT_FALSE(copy.m_bDisabled);
        EXPECT_EQ(copy.m_nSource, 2);
        EXPECT_EQ(copy.m_csNetworkName, QStringLiteral("n"));
        EXPECT_EQ(copy.m_csLabel, QStringLiteral("3"));
        EXPECT_EQ(copy.m_csPriority, QStringLiteral("40"));
        EXPECT_EQ(copy.m_csAddress, QStringLiteral("2001:db8::/32"));
        EXPECT_EQ(copy.m_pApp, row.m_pApp);
        EXPECT_EQ(copy.m_stError.nId, 0);
        EXPECT_TRUE(copy.m_stError.csText.isEmpty());
        EXPECT_EQ(copy.m_stError.nKind, 0);
    };
    CPolicy constructed(row);
    expectCopy(constructed);
    CPolicy assigned;
    assigned.SetError(MakeError(505));
    assigned = row;
    expectCopy(assigned);
    CPolicyList list;
    list.append(row);
    expectCopy(list.first());
}

TEST(PolicyRecord, MakeErrorLoadsTheTextAndUsesKindError) {
    testsupport::CTestApp t;
    const ErrorInfo info = MakeError(509);
    EXPECT_EQ(info.nId, 509);
    EXPECT_EQ(info.csText, kMsg509);
    EXPECT_EQ(info.nKind, LOG_ERROR);
}

// --- Network name ---------------------------------------------------------------------------

TEST(PolicyNetworkName, IsTrimmedAndMayHoldCommas) {
    testsupport::CTestApp t;
    CPolicy row;
    EXPECT_EQ(row.SetAndValidNetworkName(QStringLiteral("  A,B net \t")), 1);
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("A,B net"));
    EXPECT_EQ(row.m_stError.nId, 0);
}

TEST(PolicyNetworkName, AcceptsOneHundredTwentyEightCharactersAndRejectsMore) {
    testsupport::CTestApp t;
    CPolicy row;
    const QString name128(128, u'ネ');
    EXPECT_EQ(row.SetAndValidNetworkName(name128), 1);
    EXPECT_EQ(row.m_csNetworkName, name128);
    EXPECT_EQ(row.SetAndValidNetworkName(QString(129, u'x')), 0);
    ExpectError(row, 506, kMsg506);
    EXPECT_EQ(row.m_csNetworkName, name128) << "a failed validation keeps the member";
    // Trimming comes first: 128 characters between blanks are accepted.
    EXPECT_EQ(row.SetAndValidNetworkName(QStringLiteral(" ") + QString(128, u'y') + QStringLiteral(" ")), 1);
}

TEST(PolicyNetworkName, EmptyOrBlankIsRequired) {
    testsupport::CTestApp t;
    CPolicy row;
    for (const QString& text : {QString(), QStringLiteral("   "), QStringLiteral("\t\r\n")}) {
        row.m_stError = ErrorInfo();
        EXPECT_EQ(row.SetAndValidNetworkName(text), 0);
        ExpectError(row, 505, kMsg505);
    }
    EXPECT_TRUE(row.m_csNetworkName.isEmpty());
}

// --- Label and priority ---------------------------------------------------------------------

TEST(PolicyLabelAndPriority, ZeroAndPlainDecimalsAreAccepted) {
    testsupport::CTestApp t;
    CPolicy row;
    EXPECT_EQ(row.SetAndValidLabel(QStringLiteral("0")), 1);
    EXPECT_EQ(row.m_csLabel, QStringLiteral("0"));
    EXPECT_EQ(row.SetAndValidLabel(QStringLiteral(" 13 ")), 1);
    EXPECT_EQ(row.m_csLabel, QStringLiteral("13"));
    EXPECT_EQ(row.SetAndValidPriority(QStringLiteral("0")), 1);
    EXPECT_EQ(row.m_csPriority, QStringLiteral("0"));
    EXPECT_EQ(row.SetAndValidPriority(QStringLiteral("1234567890")), 1);
    EXPECT_EQ(row.m_csPriority, QStringLiteral("1234567890"));
    EXPECT_EQ(row.m_stError.nId, 0);
}

TEST(PolicyLabelAndPriority, NonDecimalFormsAreRejectedWith507) {
    testsupport::CTestApp t;
    const QStringList rejected = {QStringLiteral("00"),  QStringLiteral("07"), QStringLiteral("+7"),
                                  QStringLiteral("-7"),  QStringLiteral("7a"), QStringLiteral("７"),
                                  QStringLiteral("1７"), QStringLiteral("7 7"), QStringLiteral("0x7"),
                                  QStringLiteral("1.5")};
    for (const QString& text : rejected) {
        CPolicy row;
        row.m_csLabel = QStringLiteral("keep");
        row.m_csPriority = QStringLiteral("keep");
        EXPECT_EQ(row.SetAndValidLabel(text), 0) << text.toStdString();
        ExpectError(row, 507, kMsg507);
        row.m_stError = ErrorInfo();
        EXPECT_EQ(row.SetAndValidPriority(text), 0) << text.toStdString();
        ExpectError(row, 507, kMsg507);
        EXPECT_EQ(row.m_csLabel, QStringLiteral("keep"));
        EXPECT_EQ(row.m_csPriority, QStringLiteral("keep"));
    }
}

TEST(PolicyLabelAndPriority, EmptyGives505AndElevenCharactersGive506) {
    testsupport::CTestApp t;
    CPolicy row;
    EXPECT_EQ(row.SetAndValidLabel(QString()), 0);
    ExpectError(row, 505, kMsg505);
    EXPECT_EQ(row.SetAndValidPriority(QStringLiteral("    ")), 0);
    ExpectError(row, 505, kMsg505);
    EXPECT_EQ(row.SetAndValidLabel(QStringLiteral("12345678901")), 0);
    ExpectError(row, 506, kMsg506);
    EXPECT_EQ(row.SetAndValidPriority(QStringLiteral("abcdefghijk")), 0);
    ExpectError(row, 506, kMsg506) ;
}

TEST(PolicyLabelAndPriority, ValuesUpToTheUnsigned32BitMaximumAreAccepted) {
    testsupport::CTestApp t;
    CPolicy row;
    for (const QString& text : {QStringLiteral("2147483647"), QStringLiteral("2147483648"),
                                QStringLiteral("4294967295")}) {
        EXPECT_EQ(row.SetAndValidLabel(text), 1) << text.toStdString();
        EXPECT_EQ(row.m_csLabel, text);
    }
    for (const QString& text : {QStringLiteral("4294967296"), QStringLiteral("9999999999")}) {
        EXPECT_EQ(row.SetAndValidPriority(text), 0) << text.toStdString();
        ExpectError(row, 507, kMsg507);
    }
}

TEST(PolicyCheckNumber, FollowsTheDecimalRuleAndTracesItsStart) {
    testsupport::CTestApp t;
    CPolicy row;
    EXPECT_EQ(row.CheckNumber(QStringLiteral("1")), 1);
    EXPECT_EQ(row.CheckNumber(QStringLiteral("128")), 1);
    EXPECT_EQ(row.m_stError.nId, 0);
    const QStringList rejected = {QStringLiteral("0"),  QStringLiteral(""),   QStringLiteral(" 1"),
                                  QStringLiteral("1 "), QStringLiteral("-1"), QStringLiteral("٣"),
                                  QString(40, u'9'),    QStringLiteral("1") + QString(30, u'0')};
    for (const QString& text : rejected) {
        row.m_stError = ErrorInfo();
        EXPECT_EQ(row.CheckNumber(text), 0) << text.toStdString();
        ExpectError(row, 507, kMsg507);
    }
    const QStringList log = t.LogLines();
    EXPECT_TRUE(HasLine(log, QStringLiteral(",DEBUG,CPolicyクラスのCheckNumberの処理を開始します。")));
    EXPECT_TRUE(HasLine(log, QStringLiteral(",DEBUG,CPolicyクラスのCheckNumberの処理を終了します。")));
}

// --- Address ----------------------------------------------------------------------------

TEST(PolicyAddress, IsTrimmedButNotNormalised) {
    testsupport::CTestApp t;
    CPolicy row;
    EXPECT_EQ(row.SetAndValidAddress(QStringLiteral("  2001:db8::/32  ")), 1);
    EXPECT_EQ(row.m_csAddress, QStringLiteral("2001:db8::/32"));
    EXPECT_EQ(row.SetAndValidAddress(QStringLiteral("2001:0DB8:0000::/48")), 1);
    EXPECT_EQ(row.m_csAddress, QStringLiteral("2001:0DB8:0000::/48"));
    EXPECT_EQ(row.m_stError.nId, 0);
}

TEST(PolicyAddress, AcceptsZeroLengthsAndEmbeddedIPv4) {
    testsupport::CTestApp t;
    CPolicy row;
    for (const QString& text : {QStringLiteral("::/0"), QStringLiteral("2001:db8::/0"),
                                QStringLiteral("::1/128"), QStringLiteral("::ffff:0:0/96"),
                                QStringLiteral("::ffff:192.0.2.1/128")}) {
        EXPECT_EQ(row.SetAndValidAddress(text), 1) << text.toStdString();
        EXPECT_EQ(row.m_csAddress, text);
    }
}

TEST(PolicyAddress, MalformedPrefixesAreRejectedWith509) {
    testsupport::CTestApp t;
    const QStringList rejected = {
        QStringLiteral("2001:db8::/129"),   QStringLiteral("2001:db8::/32/1"),
        QStringLiteral("2001:db8::"),       QStringLiteral("2001:db8::/032"),
        QStringLiteral("2001:db8::/"),      QStringLiteral("2001:db8::/ 32"),
        QStringLiteral("2001:db8::/+32"),   QStringLiteral("2001:db8::/3x"),
        QStringLiteral("2001:db8::/99999999999999999999"),
        QStringLiteral("/64"),              QStringLiteral("localhost/64"),
        QStringLiteral("192.0.2.0/24"),     QStringLiteral("2001:db8:::/32"),
        QStringLiteral("fe80::1%eth0/64"),  QStringLiteral("２００１:db8::/32"),
        QStringLiteral("2001:db8::/３２"),  QStringLiteral("2001:db8::1:2:3:4:5:6:7/32")};
    for (const QString& text : rejected) {
        CPolicy row;
        row.m_csAddress = QStringLiteral("keep");
        EXPECT_EQ(row.SetAndValidAddress(text), 0) << text.toStdString();
        ExpectError(row, 509, kMsg509);
        EXPECT_EQ(row.m_csAddress, QStringLiteral("keep"));
    }
}

TEST(PolicyAddress, EmptyIsRequiredNot509) {
    testsupport::CTestApp t;
    CPolicy row;
    EXPECT_EQ(row.SetAndValidAddress(QStringLiteral("   ")), 0);
    ExpectError(row, 505, kMsg505);
}

TEST(PolicyValidators, EarlierSuccessesStayWhenALaterOneFails) {
    testsupport::CTestApp t;
    CPolicy row;
    row.m_bDisabled = false;
    EXPECT_EQ(row.SetAndValidNetworkName(QStringLiteral("lab")), 1);
    EXPECT_EQ(row.SetAndValidLabel(QStringLiteral("7")), 1);
    EXPECT_EQ(row.SetAndValidPriority(QStringLiteral("07")), 0);
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("lab"));
    EXPECT_EQ(row.m_csLabel, QStringLiteral("7"));
    EXPECT_TRUE(row.m_csPriority.isEmpty());
    ExpectError(row, 507, kMsg507);
    // The failure path writes no end line; the success path does.
    const QStringList log = t.LogLines();
    EXPECT_TRUE(HasLine(log, QStringLiteral("CPolicyクラスのSetAndValidLabelの処理を終了します。")));
    EXPECT_TRUE(HasLine(log, QStringLiteral("CPolicyクラスのSetAndValidPriorityの処理を開始します。")));
    EXPECT_FALSE(HasLine(log, QStringLiteral("CPolicyクラスのSetAndValidPriorityの処理を終了します。")));
}

TEST(PolicyRecord, SetAddressAndSetErrorStoreWhatTheyAreGiven) {
    testsupport::CTestApp t;
    CPolicy row;
    EXPECT_EQ(row.SetAddress(QStringLiteral(" not an address ")), 1);
    EXPECT_EQ(row.m_csAddress, QStringLiteral(" not an address "));
    row.SetError(MakeError(506));
    EXPECT_EQ(row.m_stError.nId, 506);
    const QStringList log = t.LogLines();
    EXPECT_TRUE(HasLine(log, QStringLiteral("CPolicyクラスのSetAddressの処理を終了します。")));
    EXPECT_TRUE(HasLine(log, QStringLiteral("CPolicyクラスのSetErrorの処理を終了します。")));
}

// --- Prefix helpers -----------------------------------------------------------------------

TEST(PolicyPrefix, LengthIsTheNumberAfterTheLastSlash) {
    testsupport::CTestApp t;
    CPolicy row;
    const struct {
        const char* address;
        int length;
    } cases[] = {{"2001:db8::", -1},   {"2001:db8::/", 0},     {"2001:db8::/48", 48},
                 {"a/b/64", 64},       {"::/12abc", 12},       {"::/ 7", 7},
                 {"::/-3", -3},        {"::/x", 0},            {"::/99999999999999", 2147483647},
                 {"", -1}};
    for (const auto& c : cases) {
        row.m_csAddress = QString::fromLatin1(c.address);
        EXPECT_EQ(row.GetPrefixLen(), c.length) << c.address;
    }
}

TEST(PolicyPrefix, AddressBytesComeFromTheNumericParser) {
    testsupport::CTestApp t;
    CPolicy row;
    row.m_csAddress = QStringLiteral("2001:db8:1::ff/48");
    IPv6Bytes bytes{};
    ASSERT_EQ(row.GetPrefix(bytes), 1);
    const IPv6Bytes expected = {0x20, 0x01, 0x0d, 0xb8, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xff};
    EXPECT_EQ(bytes, expected);
}

TEST(PolicyPrefix, NoSlashOrNoNumericAddressFailsWithTrace) {
    testsupport::CTestApp t;
    CPolicy row;
    IPv6Bytes bytes{};
    row.m_csAddress = QStringLiteral("2001:db8::");
    EXPECT_EQ(row.GetPrefix(bytes), 0);
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral(",DEBUG,iPos=-1")));
    for (const QString& text : {QStringLiteral("localhost/8"), QStringLiteral("/64")}) {
        row.m_csAddress = text;
        EXPECT_EQ(row.GetPrefix(bytes), 0) << text.toStdString();
    }
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral(",DEBUG,GetAddrInfoW=!0")));
}

// --- FixAddress -----------------------------------------------------------------------------

TEST(PolicyFixAddress, CompressesToTheShortestGroupForm) {
    testsupport::CTestApp t;
    CPolicy row;
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
        {"20010db8", "2001:db8::"},
        {"0000:0000:0000:0000:0000:0000:0000:0000/8", "::/8"},
        {"2001:0000:0db8:0000:0000:0001:0000:0000", "2001:0:db8::1:0:0"},
        {"2001:0db8:0001:0000:0001:0001:0001:0001", "2001:db8:1::1:1:1:1"},
        {"2001:0db8:0000:0000:0000:0000:0000:0000/32", "2001:db8::/32"},
        // A zero last group before the length is a group of its own.
        {"0000:0000:0000:0000:0000:fffe:0000:0000/96", "::fffe:0:0/96"},
        {"2001:0000:0000:0000:0db8:0000:0000:0000/64", "2001::db8:0:0:0/64"},
        {"00000000000000000000000000000001", "::1"},
        {"2001:0DB8:00AB:0001:0002:0003:0004:0005", "2001:DB8:AB:1:2:3:4:5"},
        {"", "::"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(row.FixAddress(QString::fromLatin1(c.in)), QString::fromLatin1(c.out)) << c.in;
    EXPECT_TRUE(row.m_csAddress.isEmpty()) << "the row itself is not changed";
}

// Every long form (eight groups of four digits, "/length" on the last) reads back as the same
// address and length, checked by the system's own parser; zero groups are drawn often, so every
// run pattern, a zero last group included, comes up.
TEST(PolicyFixAddress, EveryLongFormReadsBackAsTheSameAddress) {
    testsupport::CTestApp t;
    CPolicy row;
    QRandomGenerator random(5952);
    for (int n = 0; n < 2000; ++n) {
        unsigned char bytes[16] = {};
        QString longForm;
        for (int g = 0; g < 8; ++g) {
            const quint32 group = random.bounded(2) ? 0 : random.bounded(0x10000u);
            bytes[2 * g] = static_cast<unsigned char>(group >> 8);
            bytes[2 * g + 1] = static_cast<unsigned char>(group & 0xFF);
            longForm += QStringLiteral("%1").arg(group, 4, 16, QLatin1Char('0'));
            if (g < 7) longForm += u':';
        }
        const int length = int(random.bounded(129));
        const QString fixed = row.FixAddress(longForm + u'/' + QString::number(length));
        const qsizetype slash = fixed.indexOf(u'/');
        ASSERT_GT(slash, 0) << fixed.toStdString();
        EXPECT_EQ(fixed.mid(slash + 1), QString::number(length)) << fixed.toStdString();
        unsigned char parsed[16] = {};
        ASSERT_EQ(::inet_pton(AF_INET6, fixed.left(slash).toLatin1().constData(), parsed), 1)
            << longForm.toStdString() << " gave " << fixed.toStdString();
        EXPECT_EQ(0, std::memcmp(parsed, bytes, sizeof bytes)) << fixed.toStdString();
    }
}

TEST(PolicyFixAddress, TracesInputAndResult) {
    testsupport::CTestApp t;
    CPolicy row;
    row.FixAddress(QStringLiteral("20010db8"));
    const QStringList log = t.LogLines();
    EXPECT_TRUE(HasLine(log, QStringLiteral(",DEBUG,csAddress=20010db8")));
    EXPECT_TRUE(HasLine(log, QStringLiteral(",DEBUG,csRetAddress=2001:db8::")));
}

// --- SplitString --------------------------------------------------------------------------

TEST(PolicySplitString, KeepsEmptyFieldsButNotATrailingOne) {
    const auto split = [](const char* text) {
        return SplitString(QString::fromLatin1(text), QStringLiteral(","));
    };
    EXPECT_EQ(split("a,b,"), QStringList({"a", "b"}));
    EXPECT_EQ(split("a,,b"), QStringList({"a", "", "b"}));
    EXPECT_EQ(split(",a"), QStringList({"", "a"}));
    EXPECT_EQ(split(","), QStringList({""}));
    EXPECT_EQ(split(",,"), QStringList({"", ""}));
    EXPECT_EQ(split(" a , b "), QStringList({" a ", " b "}));
    EXPECT_TRUE(split("").isEmpty());
}

TEST(PolicySplitString, OnlyTheFirstSeparatorCharacterCounts) {
    EXPECT_EQ(SplitString(QStringLiteral("a;b,c"), QStringLiteral(";,")), QStringList({"a", "b,c"}));
    EXPECT_EQ(SplitString(QStringLiteral("abc"), QString()), QStringList({"abc"}));
}

// --- Control characters and whole-row checks -----------------------------------------------

// A control character inside any field would split a line of the policy table file or a
// command line: every validator refuses it with message 523, and the whole-row check names
// the field. At either end it is trimmed away like other white space.
TEST(PolicyValidators, ControlCharactersAreRefusedInEveryField) {
    testsupport::CTestApp t;
    const QString kMsg523 = QStringLiteral("%1に制御文字は使用できません。");
    const QList<char16_t> controls = {0x00, 0x01, 0x09, 0x0A, 0x0D, 0x1F, 0x7F, 0x85, 0x2028, 0x2029};
    for (const char16_t c : controls) {
        SCOPED_TRACE(int(c));
        const auto around = [c](const char* before, const char* after) {
            return QString::fromLatin1(before) + QChar(c) + QString::fromLatin1(after);
        };
        CPolicy row;
        EXPECT_EQ(row.SetAndValidNetworkName(around("a", "b")), 0);
        ExpectError(row, 523, kMsg523);
        EXPECT_EQ(row.SetAndValidLabel(around("1", "2")), 0);
        ExpectError(row, 523, kMsg523);
        EXPECT_EQ(row.SetAndValidPriority(around("4", "0")), 0);
        ExpectError(row, 523, kMsg523);
        EXPECT_EQ(row.SetAndValidAddress(around("2001:db8::", "/32")), 0);
        ExpectError(row, 523, kMsg523);
        EXPECT_TRUE(row.m_csNetworkName.isEmpty());
    }
    CPolicy row;
    EXPECT_EQ(row.SetAndValidNetworkName(QStringLiteral("\tname\n")), 1);
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("name"));

    struct Case {
        QString name, label, priority, address;
        int field;  // 0: valid
    };
    const QList<Case> cases = {
        {"", " 1 ", "40", "2001:db8::/32", 0},           // a name is free text, even empty
        {"a\nb", "1", "40", "2001:db8::/32", 200},
        {"n", "1 2", "40", "2001:db8::/32", 201},
        {"n", "1", "precedence=9", "2001:db8::/32", 202},
        {"n", "1", "40", "2001:db8::/32 store=active", 203},
        {"n", "1", "40", "", 203},
    };
    for (const Case& c : cases) {
        CPolicy r;
        r.m_csNetworkName = c.name;
        r.m_csLabel = c.label;
        r.m_csPriority = c.priority;
        r.m_csAddress = c.address;
        int field = 0;
        EXPECT_EQ(r.ValidateFields(&field), c.field == 0 ? 1 : 0) << c.address.toStdString();
        EXPECT_EQ(field, c.field);
        if (c.field == 0) {
            EXPECT_EQ(r.m_csLabel, QStringLiteral("1"));
        }
    }
}
