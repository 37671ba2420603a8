// The registration journal: its bytes read back, a cut or changed byte or a wrong line is never
// taken for a journal; a registration writes it before its first change command and removes it
// once done or put back; a journal left behind has its table put back.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <optional>
#include <utility>

#include "ostable/journal.h"
#include "ostabletest.h"

using ostabletest::COsTableTest;
using ostabletest::Row;

namespace {

const QByteArray kTableBefore =
    "# netsh interface ipv6 prefix policies: precedence label prefix\n"
    "50 0 ::1/128\n40 1 ::/0\n30 2 2002::/16\n";
const QString k519 = QStringLiteral("OSのポリシテーブルを登録前の状態に戻しました。");

class Journal : public COsTableTest {
protected:
    QString Path() const { return t.Dir() + QStringLiteral("state/registration.journal"); }
    // "precedence label prefix" per row.
    static QStringList Entries(const CPolicyList& rows) {
        QStringList out;
        for (const CPolicy& row : rows) out << row.m_csPriority + u' ' + row.m_csLabel + u' ' + row.m_csAddress;
        return out;
    }
    // The saved and planned rows of the journal on disk; nothing when it is not a whole one.
    std::optional<std::pair<QStringList, QStringList>> OnDisk() {
        CPolicyList saved;
        CPolicyList planned;
        if (!ostable::ParseJournal(testsupport::ReadFile(Path()), &t.App(), saved, planned)) return {};
        return std::make_pair(Entries(saved), Entries(planned));
    }
    QStringList Boxes() {
        QStringList out;
        for (const CMessageBoxRequest& r : t.Boxes().shown) out << r.text;
        return out;
    }
    // A random prefix in the long form the division writes, or in the listing's short one.
    QString RandomPrefix(QRandomGenerator& random) {
        QStringList groups;
        for (int i = 0; i < 8; ++i) groups << QString::number(random.bounded(0x10000), 16);
        const QString address = random.bounded(2) ? groups.join(u':') : groups.mid(0, 2).join(u':') + QStringLiteral("::");
        return address + u'/' + QString::number(random.bounded(129));
    }
};

// Body lines sealed with the end line and checksum, as a writer would.
QByteArray Sealed(const QByteArray& body) {
    return body + "end " + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + "\r\n";
}

}  // namespace

TEST_F(Journal, WhatIsWrittenReadsBackAndNothingElseIsTakenForAJournal) {
    QRandomGenerator random(24);
    for (int round = 0; round < 40; ++round) {
        CPolicyList lists[2];
        for (CPolicyList& list : lists)
            for (int n = random.bounded(6); n > 0; --n)
                list << Row(t.App(), RandomPrefix(random), QString::number(random.bounded(1000)),
                            QString::number(random.bounded(1000)));
        const QByteArray bytes = ostable::JournalBytes(lists[0], lists[1]);
        CPolicyList saved;
        CPolicyList planned;
        ASSERT_TRUE(ostable::ParseJournal(bytes, &t.App(), saved, planned)) << bytes.toStdString();
        EXPECT_EQ(Entries(saved), Entries(lists[0]));
        EXPECT_EQ(Entries(planned), Entries(lists[1]));
        // Cut short anywhere, or one byte changed anywhere: refused, nothing returned.
        for (qsizetype cut = 0; cut < bytes.size(); cut += 1 + random.bounded(7)) {
            EXPECT_FALSE(ostable::ParseJournal(bytes.first(cut), &t.App(), saved, planned)) << cut;
            EXPECT_TRUE(saved.isEmpty() && planned.isEmpty());
        }
        for (int i = 0; i < 8; ++i) {
            QByteArray changed = bytes;
            const qsizetype at = random.bounded(changed.size());
            changed[at] = char(changed[at] ^ (1 + random.bounded(255)));
            EXPECT_FALSE(ostable::ParseJournal(changed, &t.App(), saved, planned)) << at;
        }
    }
    // Whole files whose lines are not a journal's, checksum and all.
    const QByteArray kHeader = "Corvane registration journal 1\r\n";
    const QByteArray kBodies[] = {
        "Corvane registration journal 2\r\nsaved 0\r\nplanned 0\r\n",
        kHeader + "saved 1\r\nplanned 0\r\n",                        // a row missing
        kHeader + "saved 1\r\n50 0\r\nplanned 0\r\n",                // two fields
        kHeader + "saved 1\r\n50 0 ::1/128 x\r\nplanned 0\r\n",      // four
        kHeader + "saved 1\r\n50 0 ::1/129\r\nplanned 0\r\n",        // not a prefix
        kHeader + "saved 1\r\n5x 0 ::1/128\r\nplanned 0\r\n",        // not a number
        kHeader + "saved 01\r\n50 0 ::1/128\r\nplanned 0\r\n",       // a count written otherwise
        kHeader + "saved 0\r\nplanned 0\r\n50 0 ::1/128\r\n",        // a line too many
        kHeader + "planned 0\r\nsaved 0\r\n",
    };
    CPolicyList saved;
    CPolicyList planned;
    EXPECT_TRUE(ostable::ParseJournal(Sealed(kHeader + "saved 1\r\n50 0 ::1/128\r\nplanned 0\r\n"), &t.App(),
                                      saved, planned));
    for (const QByteArray& body : kBodies)
        EXPECT_FALSE(ostable::ParseJournal(Sealed(body), &t.App(), saved, planned)) << body.toStdString();
}

// The journal holds the table as it was and the plan from before the first change command; it
// goes when the registration is done or put back, stays when the table could not be put back,
// and that table comes back at the next start. Without a journal nothing is changed.
TEST_F(Journal, ARegistrationKeepsItsJournalUntilItHasEnded) {
    const QStringList before{"50 0 ::1/128", "40 1 ::/0", "30 2 2002::/16"};
    const CPolicyList rows{Row(t.App(), QStringLiteral("2001:db8::/31"), QStringLiteral("45"), QStringLiteral("3"))};
    const QStringList plan{"45 3 2001:db8:0:0:0:0:0:0/32", "45 3 2001:db9:0:0:0:0:0:0/32"};
    const struct {
        QByteArray failAt;   // the change command that fails ("K+": and every later one)
        int result;
        bool kept;           // the journal is still there afterwards
        QString lastBox;
    } kCases[] = {
        {{}, 1, false, {}},
        {"4", 0, false, k519},
        {"4+", 0, true, QStringLiteral("OSのポリシテーブルを登録前の状態に戻せませんでした。\nOSの設定をご確認下さい。")},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.failAt.toStdString());
        WriteTable(kTableBefore);
        InstallStandInFailingAt(c.failAt);
        t.Boxes().shown.clear();
        std::optional<std::pair<QStringList, QStringList>> seen;
        manager.m_command = [&](const QString&) {
            if (!seen) seen = OnDisk();
        };
        EXPECT_EQ(manager.RegisterPolicy(rows), c.result);
        manager.m_command = nullptr;
        ASSERT_TRUE(seen.has_value());
        EXPECT_EQ(seen->first, before);
        EXPECT_EQ(seen->second.size(), plan.size());
        EXPECT_EQ(QFile::exists(Path()), c.kept);
        EXPECT_EQ(Boxes().value(Boxes().size() - 1), c.lastBox);
    }
    // The last case left a half table and its journal: the next start puts the table back.
    ASSERT_NE(ReadTable(), kTableBefore);
    InstallStandInFailingAt({});
    t.Boxes().shown.clear();
    EXPECT_EQ(ostable::RecoverInterruptedRegistration(manager), ostable::ERecovery::Restored);
    EXPECT_EQ(ReadTable(), kTableBefore);
    EXPECT_FALSE(QFile::exists(Path()));
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(Boxes()[0].startsWith(QStringLiteral("中断された登録がありました。OSのポリシテーブルを登録前の状態に戻しました。")));
    EXPECT_EQ(ostable::RecoverInterruptedRegistration(manager), ostable::ERecovery::None);

    // A journal that cannot be written (its folder's name taken by a file): no command runs.
    QDir(t.Dir() + QStringLiteral("state")).removeRecursively();
    ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("state"), "x"));
    QFile::remove(t.Dir() + QStringLiteral("words.txt"));
    t.Boxes().shown.clear();
    EXPECT_EQ(manager.RegisterPolicy(rows), 0);
    EXPECT_EQ(ReadTable(), kTableBefore);
    EXPECT_EQ(NetshWords().size(), 1);  // the listing only
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(Boxes()[0].startsWith(QStringLiteral("登録の記録ファイルに書き込みが出来ません。"))) << Boxes()[0].toStdString();
}
