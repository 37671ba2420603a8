// Installing a table: RemoveAllPolicy, AddPolicy and the prefix division, through the real
// netsh stand-in with a temporary table file, plus the command lines built from hostile text.
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "ostabletest.h"
#include "platform/codepage.h"

using ostabletest::COsTableTest;
using ostabletest::Row;

namespace {

class Writer : public COsTableTest {
protected:
    QStringList Addresses(const CPolicyList& list) const {
        QStringList out;
        for (const CPolicy& row : list) out << row.m_csAddress;
        return out;
    }
    QStringList ErrorBoxes() {
        QStringList out;
        for (const CMessageBoxRequest& r : t.Boxes().shown) out << r.text;
        return out;
    }
};

// ::/8, 100::/8, 200::/8, ... 7f00::/8
QStringList SlashOneRows() {
    QStringList out{QStringLiteral("::/8")};
    for (int j = 1; j < 128; ++j) out << QString::number(j, 16) + QStringLiteral("00::/8");
    return out;
}

}  // namespace

// ---- RemoveAllPolicy ----

TEST_F(Writer, RemoveAllDeletesEveryEntryOfTheDefaultTable) {
    InstallStandIns();
    ASSERT_FALSE(QFileInfo::exists(TablePath()));
    EXPECT_EQ(manager.RemoveAllPolicy(), 1);
    EXPECT_TRUE(TableEntries().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(TablePath()));
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral(",INFO,netsh interface ipv6 delete prefixpolicy ::1/128")));
    EXPECT_TRUE(LogHas(QStringLiteral(",INFO,netsh interface ipv6 delete prefixpolicy 2001::/32")));
    EXPECT_EQ(LogCount(QStringLiteral(",INFO,netsh interface ipv6 delete prefixpolicy")), 6);
}

TEST_F(Writer, RemoveAllOnAnEmptyTableRunsNoDeleteCommand) {
    InstallStandIns();
    WriteTable("");
    EXPECT_EQ(manager.RemoveAllPolicy(), 1);
    EXPECT_EQ(LogCount(QStringLiteral("delete prefixpolicy")), 0);
}

TEST_F(Writer, RemoveAllFailsWithoutRunningDeletesWhenTheTableCannotBeRead) {
    InstallStandIns();
    SetOs(QStringLiteral("Windows8"));
    EXPECT_EQ(manager.RemoveAllPolicy(), 0);
    EXPECT_TRUE(LogHas(QStringLiteral("GetCurrent(&clPolicy)=FALSE")));
    EXPECT_EQ(LogCount(QStringLiteral("delete prefixpolicy")), 0);
    ASSERT_EQ(t.Boxes().shown.size(), 1);  // 517 from GetCurrent, nothing more
}

TEST_F(Writer, EntryAlreadyGoneCountsAsDeletedWithALogLineOnly) {
    InstallFakeNetsh(platform::ToCp932(QStringLiteral("heading\r\n\r\nPrecedence  Label  Prefix\r\n---\r\n"
                                                      "50 0 ::1/128\r\n40 1 ::/0\r\n")),
                     platform::ToCp932(QStringLiteral("\r\n指定されたファイルが見つかりません。\r\n\r\n")));
    EXPECT_EQ(manager.RemoveAllPolicy(), 1);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral(",INFO,netsh interface ipv6 delete prefixpolicy ::1/128コマンドの発行に失敗しました。")));
    EXPECT_EQ(FakeNetshRuns(), QStringList({"interface ipv6 show prefixpolicies", "interface ipv6 delete prefixpolicy ::1/128",
                                            "interface ipv6 delete prefixpolicy ::/0"}));
}

TEST_F(Writer, EmptyOutputFromADeleteIsAFailureNotAnEntryAlreadyGone) {
    InstallFakeNetsh("h\r\n\r\nh\r\n-\r\n50 0 ::1/128\r\n", "");
    EXPECT_EQ(manager.RemoveAllPolicy(), 0);
    EXPECT_EQ(ErrorBoxes(), QStringList({"netsh interface ipv6 delete prefixpolicy ::1/128コマンドの発行に失敗しました。"}));
}

TEST_F(Writer, UnwritableTableStopsTheFirstDeleteWith501AndKeepsTheTable) {
    InstallStandIns();
    WriteTable("50 0 ::1/128\n40 1 ::/0\n");
    ASSERT_TRUE(QFile::setPermissions(TablePath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = ReadTable();
    EXPECT_EQ(manager.RemoveAllPolicy(), 0);
    EXPECT_EQ(ReadTable(), before);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("netsh interface ipv6 delete prefixpolicy ::1/128コマンドの発行に失敗しました。"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_ERROR);
    EXPECT_TRUE(LogHas(QStringLiteral("csResult=アクセスが拒否されました。")));
    EXPECT_EQ(LogCount(QStringLiteral(",INFO,netsh interface ipv6 delete")), 1);
}

// ---- AddPolicy ----

TEST_F(Writer, AddOnWindows7DividesAndAddsInOrder) {
    InstallStandIns();
    WriteTable("");
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::/30"), QStringLiteral("40"), QStringLiteral("1"))};
    EXPECT_EQ(manager.AddPolicy(list), 1);
    const QStringList expected = {"2001:db8::/32", "2001:db9::/32", "2001:dba::/32", "2001:dbb::/32"};
    EXPECT_EQ(Addresses(list), expected);
    QStringList tableRows;
    for (const QString& p : expected) tableRows << QStringLiteral("40 1 ") + p;
    EXPECT_EQ(TableEntries(), tableRows);
    EXPECT_TRUE(LogHas(QStringLiteral(",INFO,netsh interface ipv6 add prefixpolicy 2001:dbb::/32 40 1")));
}

TEST_F(Writer, AddOnWindowsXpAndLinuxInstallsThePrefixAsItStands) {
    InstallStandIns();
    for (const char* os : {"WindowsXP", "Linux"}) {
        SetOs(QString::fromLatin1(os));
        WriteTable("");
        CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::/30"), QStringLiteral("40"), QStringLiteral("1"))};
        EXPECT_EQ(manager.AddPolicy(list), 1) << os;
        EXPECT_EQ(TableEntries(), QStringList({"40 1 2001:db8::/30"})) << os;
    }
}

TEST_F(Writer, AddOnWindowsVistaInstallsAllOneHundredTwentyEightRowsOfSlashOne) {
    InstallStandIns();
    SetOs(QStringLiteral("WindowsVista"));
    WriteTable("");
    CPolicyList list{Row(t.App(), QStringLiteral("::/1"), QStringLiteral("45"), QStringLiteral("14"))};
    EXPECT_EQ(manager.AddPolicy(list), 1);
    QStringList expected;
    for (const QString& p : SlashOneRows()) expected << QStringLiteral("45 14 ") + p;
    EXPECT_EQ(TableEntries(), expected);
}

TEST_F(Writer, AddOfAnEmptyListRunsNothing) {
    InstallStandIns();
    CPolicyList list;
    EXPECT_EQ(manager.AddPolicy(list), 1);
    EXPECT_EQ(LogCount(QStringLiteral("add prefixpolicy")), 0);
}

TEST_F(Writer, AddIgnoresTheSwitchedOffFlag) {
    InstallStandIns();
    WriteTable("");
    CPolicy off = Row(t.App(), QStringLiteral("2001:db8::/32"), QStringLiteral("3"), QStringLiteral("4"));
    off.m_bDisabled = true;
    CPolicyList list{off};
    EXPECT_EQ(manager.AddPolicy(list), 1);
    EXPECT_EQ(TableEntries(), QStringList({"3 4 2001:db8::/32"}));
}

TEST_F(Writer, FailingAddInTheMiddleStopsWith501AndKeepsEarlierRows) {
    InstallStandIns();
    WriteTable("9 9 2001:db9::/32\n");
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::/30"), QStringLiteral("40"), QStringLiteral("1"))};
    EXPECT_EQ(manager.AddPolicy(list), 0);
    EXPECT_EQ(TableEntries(), QStringList({"9 9 2001:db9::/32", "40 1 2001:db8::/32"}));
    EXPECT_EQ(ErrorBoxes(), QStringList({"netsh interface ipv6 add prefixpolicy 2001:db9::/32 40 1コマンドの発行に失敗しました。"}));
    EXPECT_TRUE(LogHas(QStringLiteral("csResult=オブジェクトは既に存在します。")));
    EXPECT_EQ(LogCount(QStringLiteral(",INFO,netsh interface ipv6 add")), 2);
}

TEST_F(Writer, OkIsRecognisedAfterTrimmingAndWithoutRegardToCase) {
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::/32"), QStringLiteral("1"), QStringLiteral("1"))};
    for (const QByteArray& ok : {QByteArray("OK\r\n\r\n"), QByteArray("ok"), QByteArray("\r\n  Ok \r\n\r\n\r\n")}) {
        InstallFakeNetsh("", ok);
        EXPECT_EQ(manager.AddPolicy(list), 1) << ok.constData();
    }
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    for (const QByteArray& notOk : {QByteArray("OK."), QByteArray("O K"), QByteArray(""), QByteArray("NG")}) {
        InstallFakeNetsh("", notOk);
        EXPECT_EQ(manager.AddPolicy(list), 0) << notOk.constData();
    }
    EXPECT_EQ(t.Boxes().shown.size(), 4);
}

TEST_F(Writer, AddWithoutNetshShows501) {
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::/32"), QStringLiteral("1"), QStringLiteral("1"))};
    EXPECT_EQ(manager.AddPolicy(list), 0);
    EXPECT_EQ(ErrorBoxes(), QStringList({"netsh interface ipv6 add prefixpolicy 2001:db8::/32 1 1コマンドの発行に失敗しました。"}));
}

TEST_F(Writer, UnknownOsRunsTheBarePrefixForEveryRowAndFails) {
    InstallStandIns();
    SetOs(QStringLiteral("Windows2000"));
    WriteTable("");
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::/32"), QStringLiteral("1"), QStringLiteral("1"))};
    EXPECT_EQ(manager.AddPolicy(list), 0);
    EXPECT_EQ(ErrorBoxes(), QStringList({"netsh interface ipv6 コマンドの発行に失敗しました。"}));
    EXPECT_TRUE(TableEntries().isEmpty());
}

TEST_F(Writer, RegistrationReplacesTheWholeTable) {
    InstallStandIns();
    CPolicyList list{Row(t.App(), QStringLiteral("::1/128"), QStringLiteral("50"), QStringLiteral("0")),
                     Row(t.App(), QStringLiteral("2001:db8::/31"), QStringLiteral("30"), QStringLiteral("7"))};
    ASSERT_EQ(manager.RemoveAllPolicy(), 1);
    ASSERT_EQ(manager.AddPolicy(list), 1);
    CPolicyList current;
    ASSERT_EQ(manager.GetCurrent(current), 1);
    EXPECT_EQ(Addresses(current), QStringList({"::1/128", "2001:db8::/32", "2001:db9::/32"}));
}

// ---- DividePolicy ----

TEST_F(Writer, DivisionOfSlashOneOnVistaGivesOneHundredTwentyEightSlashEights) {
    SetOs(QStringLiteral("WindowsVista"));
    CPolicyList list{Row(t.App(), QStringLiteral("::/1"), QStringLiteral("40"), QStringLiteral("1"), QStringLiteral("n"))};
    list[0].m_nSource = 1;
    list[0].m_bDisabled = true;
    EXPECT_EQ(manager.DividePolicy(list), 1);
    EXPECT_EQ(Addresses(list), SlashOneRows());
    EXPECT_EQ(list[1].m_csAddress, QStringLiteral("100::/8"));
    EXPECT_EQ(list[127].m_csAddress, QStringLiteral("7f00::/8"));
    for (const CPolicy& row : list) {
        EXPECT_EQ(row.m_csPriority, QStringLiteral("40"));
        EXPECT_EQ(row.m_csLabel, QStringLiteral("1"));
        EXPECT_EQ(row.m_csNetworkName, QStringLiteral("n"));
        EXPECT_EQ(row.m_nSource, 1);
        EXPECT_TRUE(row.m_bDisabled);
    }
    EXPECT_TRUE(LogHas(QStringLiteral("csaPrefixDivide.GetAt(i)=0100:0000:0000:0000:0000:0000:0000:0000/8")));
    EXPECT_TRUE(LogHas(QStringLiteral("csOS=WindowsVista")));
}

TEST_F(Writer, DivisionOfSlash33GivesSlash40sInTheThirdGroup) {
    SetOs(QStringLiteral("WindowsVista"));
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::/33"), QStringLiteral("1"), QStringLiteral("2"))};
    manager.DividePolicy(list);
    ASSERT_EQ(list.size(), 128);
    EXPECT_EQ(list[0].m_csAddress, QStringLiteral("2001:db8::/40"));
    EXPECT_EQ(list[1].m_csAddress, QStringLiteral("2001:db8:100::/40"));
    EXPECT_EQ(list[2].m_csAddress, QStringLiteral("2001:db8:200::/40"));
    EXPECT_EQ(list[127].m_csAddress, QStringLiteral("2001:db8:7f00::/40"));
}

TEST_F(Writer, DivisionKeepsBitsOutsideTheInsertedOnes) {
    SetOs(QStringLiteral("Windows7"));
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8:ffff::1/46"), QStringLiteral("1"), QStringLiteral("2"))};
    manager.DividePolicy(list);
    EXPECT_EQ(Addresses(list), QStringList({"2001:db8:fffc::1/48", "2001:db8:fffd::1/48", "2001:db8:fffe::1/48",
                                            "2001:db8:ffff::1/48"}));
}

TEST_F(Writer, DivisionOfSlash127GivesTwoSlash128s) {
    SetOs(QStringLiteral("Windows7"));
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::/127"), QStringLiteral("1"), QStringLiteral("2"))};
    manager.DividePolicy(list);
    EXPECT_EQ(Addresses(list), QStringList({"2001:db8::/128", "2001:db8::1/128"}));
}

TEST_F(Writer, MultiplesOfEightAreNeverDivided) {
    SetOs(QStringLiteral("Windows7"));
    CPolicyList list;
    for (const char* p : {"::/0", "2001::/8", "2001:db8::/32", "2001:db8::/64", "::1/128"})
        list << Row(t.App(), QString::fromLatin1(p), QStringLiteral("1"), QStringLiteral("1"));
    manager.DividePolicy(list);
    EXPECT_EQ(Addresses(list), QStringList({"::/0", "2001::/8", "2001:db8::/32", "2001:db8::/64", "::1/128"}));
}

TEST_F(Writer, RowWithoutSlashIsDroppedOnVistaAndKeptOnXp) {
    CPolicyList list{Row(t.App(), QStringLiteral("2001:db8::"), QStringLiteral("1"), QStringLiteral("1")),
                     Row(t.App(), QStringLiteral("2001:db8::/32"), QStringLiteral("1"), QStringLiteral("1"))};
    CPolicyList xp = list;
    SetOs(QStringLiteral("windowsvista"));
    manager.DividePolicy(list);
    EXPECT_EQ(Addresses(list), QStringList({"2001:db8::/32"}));
    EXPECT_TRUE(LogHas(QStringLiteral("iPrefixLen=-1")));
    SetOs(QStringLiteral("WindowsXP"));
    manager.DividePolicy(xp);
    EXPECT_EQ(Addresses(xp), QStringList({"2001:db8::", "2001:db8::/32"}));
}

TEST_F(Writer, UnconvertibleAddressIsDropped) {
    SetOs(QStringLiteral("Windows7"));
    CPolicyList list{Row(t.App(), QStringLiteral("not-an-address/30"), QStringLiteral("1"), QStringLiteral("1"))};
    manager.DividePolicy(list);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("GetPrefix=FALSE")));
}

TEST_F(Writer, LengthsOutsideZeroTo128AreNeverDividedAndReachTheCommandAsTheyStand) {
    SetOs(QStringLiteral("Windows7"));
    CPolicyList list;
    for (const char* p : {"2001:db8::/129", "2001:db8::/-3", "2001:db8::/999", "2001:db8::/-100", "2001:db8::/136"})
        list << Row(t.App(), QString::fromLatin1(p), QStringLiteral("1"), QStringLiteral("1"));
    manager.DividePolicy(list);
    EXPECT_EQ(Addresses(list),
              QStringList({"2001:db8::/129", "2001:db8::/-3", "2001:db8::/999", "2001:db8::/-100", "2001:db8::/136"}));

    // The stand-in rejects such a length, so the user sees 501 rather than the row vanishing.
    InstallStandIns();
    WriteTable("");
    CPolicyList one{Row(t.App(), QStringLiteral("2001:db8::/130"), QStringLiteral("1"), QStringLiteral("1"))};
    EXPECT_EQ(manager.AddPolicy(one), 0);
    EXPECT_EQ(ErrorBoxes(), QStringList({"netsh interface ipv6 add prefixpolicy 2001:db8::/130 1 1コマンドの発行に失敗しました。"}));
}

// ---- hostile text ----

TEST_F(Writer, ShellCharactersInARowOnlyEverBecomeArgumentsAndMakeTheAddFail) {
    InstallStandIns();
    SetOs(QStringLiteral("WindowsXP"));
    WriteTable("");
    const QString marker = t.Dir() + QStringLiteral("pwned");
    const QString m = marker;
    const QList<std::array<QString, 3>> rows = {
        {QStringLiteral("2001:db8::/32;touch ") + m, QStringLiteral("1"), QStringLiteral("1")},
        {QStringLiteral("2001:db8::/32"), QStringLiteral("$(touch ") + m + u')', QStringLiteral("1")},
        {QStringLiteral("2001:db8::/32"), QStringLiteral("1"), QStringLiteral("`touch ") + m + u'`'},
        {QStringLiteral("2001:db8::/32"), QStringLiteral("1\" \"2"), QStringLiteral("1")},
        {QStringLiteral("2001:db8::/32"), QStringLiteral("1"), QStringLiteral("1 2")},
        {QStringLiteral("2001:db8::/32 1 1 && touch ") + m, QStringLiteral("1"), QStringLiteral("1")},
        {QStringLiteral("'2001:db8::/32'"), QStringLiteral("1"), QStringLiteral("1")},
        {QStringLiteral("2001:db8::/32"), QStringLiteral("1;"), QStringLiteral("1|touch ") + m},
        {QStringLiteral("\"2001:db8::/32"), QStringLiteral("1"), QStringLiteral("1\"")},
    };
    for (const auto& r : rows) {
        t.Boxes().shown.clear();
        CPolicyList list{Row(t.App(), r[0], r[1], r[2])};
        EXPECT_EQ(manager.AddPolicy(list), 0) << r[0].toStdString() << ' ' << r[1].toStdString() << ' ' << r[2].toStdString();
        ASSERT_EQ(t.Boxes().shown.size(), 1);
        EXPECT_TRUE(t.Boxes().shown[0].text.endsWith(QStringLiteral("コマンドの発行に失敗しました。")));
        EXPECT_FALSE(QFileInfo::exists(marker));
        EXPECT_TRUE(TableEntries().isEmpty());
    }
}

TEST_F(Writer, ShellCharactersInAPrefixReadFromTheSystemStopTheRead) {
    const QString marker = t.Dir() + QStringLiteral("pwned");
    InstallFakeNetsh(platform::ToCp932(QStringLiteral("h\r\n\r\nh\r\n-\r\n1 1 ::/0;touch\t") + marker + QStringLiteral("\r\n")),
                     "OK\r\n");
    EXPECT_EQ(manager.RemoveAllPolicy(), 0);  // four columns: the read fails
    const QString hostile = QStringLiteral("$(touch${IFS}") + marker + QStringLiteral(")`touch${IFS}") + marker + u'`';
    InstallFakeNetsh(platform::ToCp932(QStringLiteral("h\r\n\r\nh\r\n-\r\n1 1 ") + hostile + QStringLiteral("\r\n")),
                     "OK\r\n");
    // An entry the editor would not accept makes the listing unreadable: nothing is deleted.
    EXPECT_EQ(manager.RemoveAllPolicy(), 0);
    EXPECT_FALSE(QFileInfo::exists(marker));
    EXPECT_EQ(FakeNetshRuns().filter(QStringLiteral("delete")).size(), 0);
}
