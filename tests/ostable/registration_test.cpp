// Registration as one planned step: the plan (validation, duplicates, division overlaps), the
// restore of the previous table after a failure at any command, and the words that reach the
// real netsh stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ostabletest.h"
#include "platform/cancelevent.h"

using ostabletest::COsTableTest;
using ostabletest::Row;

namespace {

// Each test runs with [APPLICATION] BATCH 0 (one process per command), 1 (netsh scripts of the
// default length) and 2 (scripts of two commands, so that a cancel falls inside and between them).
class Registration : public COsTableTest, public ::testing::WithParamInterface<int> {
protected:
    Registration() { t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("BATCH"), QString::number(GetParam())); }
    // The change commands that have run once a cancel comes during the k-th of `total`.
    static int RunBeforeCancel(int k, int total) {
        const int piece = GetParam() == 0 ? 1 : GetParam() == 1 ? total : GetParam();
        return k == 0 ? 0 : std::min(total, (k + piece - 1) / piece * piece);
    }
    QStringList Boxes() {
        QStringList out;
        for (const CMessageBoxRequest& r : t.Boxes().shown) out << r.text;
        return out;
    }
    // "address precedence label" per row.
    static QStringList Entries(const CPolicyList& list) {
        QStringList out;
        for (const CPolicy& row : list) out << row.m_csAddress + u' ' + row.m_csPriority + u' ' + row.m_csLabel;
        return out;
    }
    CPolicy On(const QString& address, const QString& priority = QStringLiteral("40"),
               const QString& label = QStringLiteral("1")) {
        return Row(t.App(), address, priority, label);
    }
};

}  // namespace

TEST_P(Registration, PlanValidatesRefusesTypedDuplicatesAndResolvesDividedOverlaps) {
    struct Case {
        const char* os;
        QList<std::array<const char*, 3>> rows;  // address, precedence, label
        QStringList plan;                        // "address precedence label", or empty
        QString box;                             // the message shown when the plan is refused
    };
    const QList<Case> cases = {
        // A divided prefix gives way to a row whose own prefix it is.
        {"Windows7", {{"2001:db8::/30", "10", "1"}, {"2001:db8::/32", "20", "2"}},
         {"2001:db9::/32 10 1", "2001:dba::/32 10 1", "2001:dbb::/32 10 1", "2001:db8::/32 20 2"}, {}},
        // Of two divided ones the longer original prefix wins, whatever the order.
        {"WindowsVista", {{"2001:db8::/30", "10", "1"}, {"2001:db8::/31", "20", "2"}},
         {"2001:dba::/32 10 1", "2001:dbb::/32 10 1", "2001:db8::/32 20 2", "2001:db9::/32 20 2"}, {}},
        {"Windows7", {{"2001:db8::/31", "20", "2"}, {"2001:db8::/30", "10", "1"}},
         {"2001:db8::/32 20 2", "2001:db9::/32 20 2", "2001:dba::/32 10 1", "2001:dbb::/32 10 1"}, {}},
        // Equal original lengths: the earlier row.
        {"Windows7", {{"2001:db9::/31", "20", "2"}, {"2001:db8::/31", "10", "1"}},
         {"2001:db8::/32 20 2", "2001:db9::/32 20 2"}, {}},
        // Windows XP installs every prefix as typed.
        {"WindowsXP", {{"2001:db8::/30", "10", "1"}, {"2001:db8::/32", "20", "2"}},
         {"2001:db8::/30 10 1", "2001:db8::/32 20 2"}, {}},
        // So does Linux, whose tables take prefixes of any length.
        {"linux", {{"2001:db8::/30", "10", "1"}, {"2001:db8::/32", "20", "2"}},
         {"2001:db8::/30 10 1", "2001:db8::/32 20 2"}, {}},
        // Blanks around a value are trimmed as in the editor.
        {"WindowsXP", {{" 2001:db8::/32 ", " 7", "0 "}}, {"2001:db8::/32 7 0"}, {}},
        // The same prefix typed twice, in any spelling, is refused before anything changes.
        {"Windows7", {{"2001:db8::/32", "10", "1"}, {"2001:0DB8:0::/32", "20", "2"}}, {},
         "2001:0DB8:0::/32は既に存在します。"},
        // A ticked row that the editor would refuse names its field.
        {"Windows7", {{"2001:db8::/32 store=persistent", "10", "1"}}, {},
         "アドレス空間がIpv6形式のアドレス/プレフィックス長の形式ではありません。"},
        {"Windows7", {{"2001:db8::/32", "precedence=99", "1"}}, {}, "優先度の桁数が多すぎます。"},
        {"Windows7", {{"2001:db8::/32", "p=9", "1"}}, {}, "優先度には数値のみが使用できます。"},
        {"Windows7", {{"2001:db8::/32", "10", "1 2"}}, {}, "ラベルには数値のみが使用できます。"},
        {"Windows7", {{"2001:db8::/32", "10", "1\n"}}, {}, QString()},  // trimmed: accepted
        {"Windows7", {{"2001:db8::/32", "1\x01", "1"}}, {}, "優先度に制御文字は使用できません。"},
        {"Windows7", {{"2001:db8::/32", "\"40\"", "1"}}, {}, "優先度には数値のみが使用できます。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows.first()[0]);
        SetOs(QString::fromLatin1(c.os));
        t.Boxes().shown.clear();
        CPolicyList rows;
        for (const auto& r : c.rows)
            rows << On(QString::fromUtf8(r[0]), QString::fromUtf8(r[1]), QString::fromUtf8(r[2]));
        CPolicyList plan;
        const bool refused = !c.box.isEmpty();
        EXPECT_EQ(manager.PlanPolicy(rows, plan), refused ? 0 : 1);
        if (refused) {
            EXPECT_EQ(Boxes(), QStringList{c.box});
        } else if (!c.plan.isEmpty()) {
            EXPECT_EQ(Entries(plan), c.plan);
            EXPECT_TRUE(Boxes().isEmpty());
        }
    }
}

// The stand-in's table before a registration, in the order its listing gives it, so that a
// restore writes the same bytes.
const QByteArray kTableBefore =
    "# netsh interface ipv6 prefix policies: precedence label prefix\n"
    "50 0 ::1/128\n40 1 ::/0\n30 2 2002::/16\n";

// The stand-in fails the k-th change command, for every k: the table afterwards is the one
// before, byte for byte, and the user is told of the failure and of the restore.
TEST_P(Registration, AFailureAtAnyCommandPutsThePreviousTableBack) {
    const QByteArray before = kTableBefore;
    const CPolicyList rows{On(QStringLiteral("2001:db8::/31"), QStringLiteral("45"), QStringLiteral("3")),
                           On(QStringLiteral("::/0"), QStringLiteral("40"), QStringLiteral("1"))};
    const int changes = 3 + 3;  // three deletes, then 2001:db8::/32, 2001:db9::/32 and ::/0
    for (int k = 1; k <= changes; ++k) {
        SCOPED_TRACE(k);
        WriteTable(before);
        InstallStandInFailingAt(QByteArray::number(k));
        t.Boxes().shown.clear();
        EXPECT_EQ(manager.RegisterPolicy(rows), 0);
        EXPECT_EQ(ReadTable(), before);
        ASSERT_EQ(Boxes().size(), 2);
        EXPECT_TRUE(Boxes()[0].endsWith(QStringLiteral("コマンドの発行に失敗しました。")));
        EXPECT_EQ(Boxes()[1], QStringLiteral("OSのポリシテーブルを登録前の状態に戻しました。"));
    }
    // A restore whose commands fail too says so.
    WriteTable(before);
    InstallStandInFailingAt("5+");
    t.Boxes().shown.clear();
    EXPECT_EQ(manager.RegisterPolicy(rows), 0);
    ASSERT_EQ(Boxes().size(), 2);
    EXPECT_TRUE(Boxes()[1].startsWith(QStringLiteral("OSのポリシテーブルを登録前の状態に戻せませんでした。")));
    EXPECT_TRUE(LogHas(QStringLiteral("RestorePolicyの処理を開始します。")));

    // Without a failure the new table is installed; switched-off rows are not.
    WriteTable(before);
    InstallStandInFailingAt({});
    t.Boxes().shown.clear();
    CPolicyList withOff = rows;
    withOff << On(QStringLiteral("2001:db8:1::/48"));
    withOff.last().m_bDisabled = true;
    EXPECT_EQ(manager.RegisterPolicy(withOff), 1);
    EXPECT_EQ(TableEntries(), QStringList({"45 3 2001:db8::/32", "45 3 2001:db9::/32", "40 1 ::/0"}));
    EXPECT_TRUE(Boxes().isEmpty());
}

// A cancel while the k-th change command runs: that command ends, no further one starts, the
// table before is put back byte for byte, and the one box is the restore message. A cancel
// before the first change leaves nothing to put back.
TEST_P(Registration, ACancelAtAnyCommandPutsThePreviousTableBack) {
    const QByteArray before = kTableBefore;
    const CPolicyList rows{On(QStringLiteral("2001:db8::/32"), QStringLiteral("45"), QStringLiteral("3")),
                           On(QStringLiteral("::/0"), QStringLiteral("40"), QStringLiteral("1"))};
    for (int k : {0, 1, 3, 5}) {  // before any change, first and last delete, last of 2 adds
        SCOPED_TRACE(k);
        WriteTable(before);
        InstallStandInFailingAt({});
        QFile::remove(t.Dir() + QStringLiteral("words.txt"));
        t.Boxes().shown.clear();
        platform::CCancelEvent cancel;
        if (k == 0) cancel.Set();
        int started = 0;
        manager.m_pCancel = &cancel;
        manager.m_command = [&](const QString&) {
            if (++started == k) cancel.Set();
        };
        CPolicyListManager::ERestore restore{};
        EXPECT_EQ(manager.RegisterPolicy(rows, &restore), 0);
        EXPECT_EQ(ReadTable(), before);
        EXPECT_EQ(Boxes(), QStringList{QStringLiteral("OSのポリシテーブルを登録前の状態に戻しました。")});
        using ERestore = CPolicyListManager::ERestore;
        EXPECT_EQ(restore, k == 0 ? ERestore::NotNeeded : ERestore::Restored);
        // The reading show, the changes up to the end of the k-th one's script, then the
        // restore's own show.
        const QList<QStringList> runs = NetshWords();
        const int ran = RunBeforeCancel(k, 5);
        ASSERT_GE(runs.size(), ran + 1);
        if (k > 0) {
            EXPECT_EQ(runs.value(ran + 1).value(2), QStringLiteral("show"));
            EXPECT_NE(runs.value(ran).value(2), QStringLiteral("show"));
        } else {
            EXPECT_EQ(runs.size(), 1);
        }
    }
    manager.m_pCancel = nullptr;
    manager.m_command = nullptr;
}

// Installing a file: each way it can end, and the table afterwards. Only a failed restore is
// NotRestored: a plan refused or a cancel before the first change needed nothing put back.
TEST_P(Registration, InstallingAFileEndsInOneOfItsOutcomes) {
    using EInstall = CPolicyListManager::EInstall;
    const QByteArray before = kTableBefore;
    const struct {
        const char* file;    // the policy table file; nullptr: none
        QByteArray failAt;   // the change command that fails
        bool cancelFirst;    // cancelled before the first command
        EInstall outcome;
        bool changed;        // the table afterwards is the new one
    } cases[] = {
        {"1,0,a,1,45,2001:db8::/32\r\n", {}, false, EInstall::Installed, true},
        {nullptr, {}, false, EInstall::FileNotFound, false},
        {"1,0,a,1,45,2001:db8::/32\r\n1,0,b,x,1,::/0\r\n", {}, false, EInstall::LineRefused, false},
        {"1,0,a,1,45,2001:db8::/32\r\n1,0,b,1,46,2001:DB8::/32\r\n", {}, false,
         EInstall::NotChanged, false},
        {"1,0,a,1,45,2001:db8::/32\r\n", {}, true, EInstall::NotChanged, false},
        {"1,0,a,1,45,2001:db8::/32\r\n", "1", false, EInstall::Restored, false},
        {"1,0,a,1,45,2001:db8::/32\r\n", "4", false, EInstall::Restored, false},
        {"1,0,a,1,45,2001:db8::/32\r\n", "2+", false, EInstall::NotRestored, false},
    };
    const QString path = t.Dir() + QStringLiteral("install.conf");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(none)");
        SCOPED_TRACE(c.failAt.toStdString());
        WriteTable(before);
        InstallStandInFailingAt(c.failAt);
        QFile::remove(path);
        if (c.file) {
            ASSERT_TRUE(testsupport::WriteFile(path, c.file));
        }
        platform::CCancelEvent cancel;
        if (c.cancelFirst) cancel.Set();
        manager.m_pCancel = &cancel;
        EXPECT_EQ(manager.InstallPolicyFile(path), c.outcome);
        manager.m_pCancel = nullptr;
        if (c.changed) {
            EXPECT_EQ(TableEntries(), QStringList{QStringLiteral("45 1 2001:db8::/32")});
        } else if (c.outcome != EInstall::NotRestored) {
            EXPECT_EQ(ReadTable(), before);
        }
    }
}

// Rows read from a policy table file with words hidden in their fields never add a word to a
// command line: the lines are left out, and every run gets exactly its own words.
TEST_P(Registration, TextFromAFileNeverBecomesAnExtraCommandWord) {
    SetOs(QStringLiteral("WindowsXP"));
    const QString path = t.Dir() + QStringLiteral("smuggle.conf");
    ASSERT_TRUE(testsupport::WriteFile(path,
                                       "1,2,a,1,40,2001:db8::/32 store=persistent\r\n"
                                       "1,2,b,precedence=99,40,2001:db8:1::/48\r\n"
                                       "1,2,c,1,\"4 0\",2001:db8:2::/48\r\n"
                                       "1,2,d\tx,1,40,2001:db8:3::/48\r\n"
                                       "\r\n"
                                       "1,2,ok,1,40,2001:db8:4::/48\r\n"));
    CPolicyList rows;
    QList<qsizetype> rejected;
    ASSERT_EQ(manager.GetPolicyFile(rows, path, &rejected), 1);
    EXPECT_EQ(rejected, QList<qsizetype>({1, 2, 3, 4}));
    WriteTable("");
    InstallStandInFailingAt({});
    ASSERT_EQ(manager.RegisterPolicy(rows), 1);
    const QList<QStringList> runs = NetshWords();
    ASSERT_EQ(runs.size(), 3);  // show, one add, and the show that reads the result back
    EXPECT_EQ(runs[1], QStringList({"interface", "ipv6", "add", "prefixpolicy", "2001:db8:4::/48", "40", "1"}));
    EXPECT_EQ(TableEntries(), QStringList({"40 1 2001:db8:4::/48"}));
}

INSTANTIATE_TEST_SUITE_P(Batch, Registration, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& p) { return "Batch" + std::to_string(p.param); });
