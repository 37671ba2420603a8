// Reading the operating system's table: GetCurrent and ConvertToPolicy, through the real
// netsh stand-in with a temporary table file, and through a scripted netsh for shapes the
// stand-in never prints.
#include <gtest/gtest.h>

#include "ostabletest.h"
#include "platform/codepage.h"

using ostabletest::COsTableTest;

namespace {

const QString kHeadingText = QStringLiteral(
    "アクティブ状態を照会しています...\r\n\r\n優先順位   ラベル  プレフィックス\r\n"
    "----------  -----  --------------------------------\r\n");
const QByteArray kHeading = platform::ToCp932(kHeadingText);

class Reader : public COsTableTest {};

}  // namespace

TEST_F(Reader, EmptyTableGivesSuccessAndNoRows) {
    InstallStandIns();
    WriteTable("");
    CPolicyList list;
    EXPECT_EQ(manager.GetCurrent(list), 1);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
}

TEST_F(Reader, TwoEntriesBecomeSwitchedOnOperatingSystemRowsWithConfiguredNames) {
    InstallStandIns();
    WriteTable("50 0 ::1/128\n40 1 ::/0\n");
    CPolicyList list;
    ASSERT_EQ(manager.GetCurrent(list), 1);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].m_csPriority, QStringLiteral("50"));
    EXPECT_EQ(list[0].m_csLabel, QStringLiteral("0"));
    EXPECT_EQ(list[0].m_csAddress, QStringLiteral("::1/128"));
    EXPECT_EQ(list[0].m_csNetworkName, QStringLiteral("Loopback"));
    EXPECT_EQ(list[1].m_csPriority, QStringLiteral("40"));
    EXPECT_EQ(list[1].m_csLabel, QStringLiteral("1"));
    EXPECT_EQ(list[1].m_csAddress, QStringLiteral("::/0"));
    EXPECT_EQ(list[1].m_csNetworkName, QStringLiteral("IPv6"));
    for (const CPolicy& row : list) {
        EXPECT_FALSE(row.m_bDisabled);
        EXPECT_EQ(row.m_nSource, 2);
        EXPECT_EQ(row.m_pApp, &t.App());
    }
    EXPECT_TRUE(LogHas(QStringLiteral(",INFO,netsh interface ipv6 show prefixpolicies")));
}

TEST_F(Reader, MissingTableFileReadsAsTheDefaultTableWithEveryWellKnownName) {
    InstallStandIns();
    t.SetSetting(QStringLiteral("DEFAULT"), QStringLiteral("NETWORK_UNKNOWN"), QStringLiteral("Other"));
    WriteTable("50 0 ::1/128\n40 1 ::/0\n30 2 2002::/16\n20 3 ::/96\n10 4 ::FFFF:0:0/96\n5 5 2001::/32\n"
               "3 13 2001:0db8::/32\n");
    CPolicyList list;
    ASSERT_EQ(manager.GetCurrent(list), 1);
    QStringList names;
    for (const CPolicy& row : list) names << row.m_csNetworkName;
    EXPECT_EQ(names, QStringList({"Loopback", "IPv6", "6to4", "IPv4-compatible", "IPv4-mapped", "Teredo", "Other"}));

    QFile::remove(TablePath());
    list.clear();
    ASSERT_EQ(manager.GetCurrent(list), 1);
    ASSERT_EQ(list.size(), 6);
    EXPECT_EQ(list[5].m_csAddress, QStringLiteral("2001::/32"));
    EXPECT_EQ(list[5].m_csPriority, QStringLiteral("5"));
}

TEST_F(Reader, NameMissingFromSettingsLeavesTheNameEmpty) {
    InstallStandIns();
    t.SetSetting(QStringLiteral("DEFAULT"), QStringLiteral("NETWORK_UNKNOWN"), QString());
    WriteTable("7 9 2001:db8::/32\n");
    CPolicyList list;
    ASSERT_EQ(manager.GetCurrent(list), 1);
    ASSERT_EQ(list.size(), 1);
    EXPECT_TRUE(list[0].m_csNetworkName.isEmpty());
}

TEST_F(Reader, RowsAreAppendedToWhatTheListHolds) {
    InstallStandIns();
    WriteTable("50 0 ::1/128\n");
    CPolicyList list;
    list.append(ostabletest::Row(t.App(), QStringLiteral("2001:db8::/32"), QStringLiteral("1"), QStringLiteral("1")));
    ASSERT_EQ(manager.GetCurrent(list), 1);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[1].m_csAddress, QStringLiteral("::1/128"));
}

TEST_F(Reader, LowerCaseWindows7SelectsTheVistaListing) {
    InstallStandIns();
    SetOs(QStringLiteral("windows7"));
    WriteTable("10 1 2001:db8::/32\n50 0 ::1/128\n");
    CPolicyList list;
    ASSERT_EQ(manager.GetCurrent(list), 1);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].m_csPriority, QStringLiteral("50"));  // highest first
    EXPECT_TRUE(LogHas(QStringLiteral(",INFO,netsh interface ipv6 show prefixpolicies")));
}

TEST_F(Reader, WindowsXpUsesTheXpListing) {
    InstallStandIns();
    SetOs(QStringLiteral("WindowsXP"));
    WriteTable("50 0 ::1/128\n10 1 2001:db8::/32\n");
    CPolicyList list;
    ASSERT_EQ(manager.GetCurrent(list), 1);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].m_csPriority, QStringLiteral("10"));  // lowest first
    EXPECT_TRUE(LogHas(QStringLiteral(",INFO,netsh interface ipv6 show prefixpolicy")));
}

TEST_F(Reader, UnknownOsValueRunsTheBarePrefixAndFailsWith517) {
    InstallStandIns();
    SetOs(QStringLiteral("Windows10"));
    CPolicyList list;
    EXPECT_EQ(manager.GetCurrent(list), 0);
    EXPECT_TRUE(list.isEmpty());
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_ERROR);
    EXPECT_TRUE(t.Boxes().shown[0].text.startsWith(QStringLiteral("netsh interface ipv6 コマンドの発行に失敗しました。\n")));
    EXPECT_TRUE(t.Boxes().shown[0].text.contains(QStringLiteral("ご利用頂いているOSをご確認のうえ")));
    EXPECT_TRUE(LogHas(QStringLiteral(",INFO,netsh interface ipv6 ")));
}

TEST_F(Reader, RunnerFailureShows517AndLeavesTheListUnchanged) {
    // No netsh in the program directory and none on PATH.
    CPolicyList list;
    EXPECT_EQ(manager.GetCurrent(list), 0);
    EXPECT_TRUE(list.isEmpty());
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_TRUE(t.Boxes().shown[0].text.startsWith(QStringLiteral("netsh interface ipv6 show prefixpoliciesコマンドの発行に失敗しました。")));
}

TEST_F(Reader, RightAlignedNumbersParseLikePlainOnes) {
    InstallFakeNetsh(kHeading + "50 0 ::1/128\r\n        40      1  ::/0\r\n\t \r\n    3   2    2002::/16   \r\n");
    CPolicyList list;
    ASSERT_EQ(manager.GetCurrent(list), 1);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[1].m_csPriority, QStringLiteral("40"));
    EXPECT_EQ(list[1].m_csLabel, QStringLiteral("1"));
    EXPECT_EQ(list[1].m_csAddress, QStringLiteral("::/0"));
    EXPECT_EQ(list[2].m_csAddress, QStringLiteral("2002::/16"));
}

TEST_F(Reader, FourthColumnFailsTheReadWith517AndKeepsEarlierRows) {
    InstallFakeNetsh(kHeading + "50 0 ::1/128\r\n40 1 ::/0 extra\r\n30 2 2002::/16\r\n");
    CPolicyList list;
    EXPECT_EQ(manager.GetCurrent(list), 0);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].m_csAddress, QStringLiteral("::1/128"));
    EXPECT_TRUE(LogHas(QStringLiteral(",DEBUG,csaItemList.GetCount=!3")));
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_TRUE(t.Boxes().shown[0].text.contains(QStringLiteral("ご利用頂いているOS")));
}

TEST_F(Reader, TabInsideALineCountsAsItsOwnSeparator) {
    // A tab is copied, so a tab next to a blank makes an empty column.
    CPolicyList list;
    EXPECT_EQ(manager.ConvertToPolicy(kHeadingText + QStringLiteral("50\t0\t::1/128\r\n"), list), 1);
    EXPECT_EQ(manager.ConvertToPolicy(kHeadingText + QStringLiteral("50 \t0 ::1/128\r\n"), list), 0);
    ASSERT_EQ(list.size(), 1);
}

TEST_F(Reader, FewerThanFourLinesFails) {
    CPolicyList list;
    EXPECT_EQ(manager.ConvertToPolicy(QStringLiteral("a\nb\nc\n"), list), 0);
    EXPECT_TRUE(LogHas(QStringLiteral("GetCount(hOutputRead)=<4")));
    EXPECT_EQ(manager.ConvertToPolicy(QStringLiteral("a\nb\nc\nd"), list), 1);
    EXPECT_EQ(manager.ConvertToPolicy(QStringLiteral("ng"), list), 0);
    EXPECT_TRUE(list.isEmpty());
}

TEST_F(Reader, OutputOfFewerThanFourLinesFromTheCommandShows517) {
    InstallFakeNetsh("OK\r\n\r\n");
    CPolicyList list;
    EXPECT_EQ(manager.GetCurrent(list), 0);
    EXPECT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_TRUE(LogHas(QStringLiteral("GetCount(hOutputRead)=<4")));
}
