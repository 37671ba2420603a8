// The diagnostic snapshot blocks: GetCurrentString and GetCurrentIpconfigString.
#include <gtest/gtest.h>

#include "ostabletest.h"
#include "platform/codepage.h"

using ostabletest::COsTableTest;

namespace {
class Snapshot : public COsTableTest {};
}  // namespace

TEST_F(Snapshot, VistaBlockStartsWithTheCommandAndHoldsTheListingWithLineFeeds) {
    InstallStandIns();
    SetOs(QStringLiteral("WindowsVista"));
    WriteTable("50 0 ::1/128\n40 1 ::/0\n");
    const QString block = manager.GetCurrentString();
    EXPECT_EQ(block, QStringLiteral(">netsh interface ipv6 show prefixpolicies\n"
                                    "アクティブ状態を照会しています...\n\n優先順位   ラベル  プレフィックス\n"
                                    "----------  -----  --------------------------------\n"
                                    "        50      0  ::1/128\n        40      1  ::/0\n\n"));
    EXPECT_FALSE(block.contains(u'\r'));
    EXPECT_TRUE(LogHas(QStringLiteral("GetCurrentStringの処理を終了します。")));
}

TEST_F(Snapshot, LowerCaseWindows7AndXpPickTheirListings) {
    InstallStandIns();
    SetOs(QStringLiteral("windows7"));
    EXPECT_TRUE(manager.GetCurrentString().startsWith(QStringLiteral(">netsh interface ipv6 show prefixpolicies\n")));
    SetOs(QStringLiteral("windowsxp"));
    const QString xp = manager.GetCurrentString();
    EXPECT_TRUE(xp.startsWith(QStringLiteral(">netsh interface ipv6 show prefixpolicy\n"))) << xp.toStdString();
    EXPECT_TRUE(xp.contains(QStringLiteral("         5      5  2001::/32\n        10      4  ::ffff:0:0/96\n")));
}

TEST_F(Snapshot, UnknownOsRunsTheBarePrefixAndKeepsAMultiLineAnswer) {
    InstallStandIns();
    SetOs(QStringLiteral("BeOS"));
    const QString block = manager.GetCurrentString();
    EXPECT_TRUE(block.startsWith(QStringLiteral(">netsh interface ipv6 \n次のコマンドを利用できます:\n"))) << block.toStdString();
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
}

TEST_F(Snapshot, RunnerFailureShows517AndGivesEmptyText) {
    const QString block = manager.GetCurrentString();
    EXPECT_TRUE(block.isEmpty());
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_ERROR);
    EXPECT_TRUE(t.Boxes().shown[0].text.startsWith(QStringLiteral("netsh interface ipv6 show prefixpoliciesコマンドの発行に失敗しました。\n")));
    EXPECT_FALSE(LogHas(QStringLiteral("GetCurrentStringの処理を終了します。")));
}

TEST_F(Snapshot, OneLineOutputIsAFailure) {
    InstallFakeNetsh("just one line\r\n");
    EXPECT_TRUE(manager.GetCurrentString().isEmpty());
    EXPECT_EQ(t.Boxes().shown.size(), 1);
}

TEST_F(Snapshot, LineEndsInEitherOrderBecomeOneLineFeed) {
    InstallFakeNetsh("a\r\nb\n\rc\nd\r\n");
    EXPECT_EQ(manager.GetCurrentString(), QStringLiteral(">netsh interface ipv6 show prefixpolicies\na\nb\nc\nd\n"));
}

TEST_F(Snapshot, IpconfigBlockHoldsThisMachinesConfiguration) {
    InstallStandIns();
    const QString block = manager.GetCurrentIpconfigString();
    EXPECT_TRUE(block.startsWith(QStringLiteral(">ipconfig /all\n\nWindows IP 構成\n"))) << block.toStdString();
    EXPECT_FALSE(block.contains(u'\r'));
    EXPECT_TRUE(LogHas(QStringLiteral("GetCurrentIpconfigStringの処理を終了します。")));
}

TEST_F(Snapshot, IpconfigBlockKeepsTheRunnersNg) {
    EXPECT_EQ(manager.GetCurrentIpconfigString(), QStringLiteral(">ipconfig /all\nNG"));
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
}
