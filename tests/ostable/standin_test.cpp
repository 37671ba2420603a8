// The netsh and ipconfig stand-ins as separate programs: what they print, byte for byte
// where it matters, and how the netsh table file behaves.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <net/if.h>
#include <thread>
#include <vector>

#include "ostabletest.h"
#include "platform/codepage.h"
#include "platform/process.h"

using ostabletest::COsTableTest;

namespace {

class StandIn : public COsTableTest {
protected:
    // Runs the staged netsh with the given words; the raw bytes it printed.
    QByteArray NetshBytes(const QStringList& words) const {
        QStringList argv{QStringLiteral("netsh")};
        argv << words;
        return platform::RunCaptured(testsupport::StageDir() + QStringLiteral("/netsh"), argv).output;
    }
    QString Netsh(const QString& line) const {
        return platform::FromCp932(NetshBytes(platform::SplitCommandLine(line)));
    }
};

const QString kHead = QStringLiteral(
    "アクティブ状態を照会しています...\r\n\r\n優先順位   ラベル  プレフィックス\r\n"
    "----------  -----  --------------------------------\r\n");

}  // namespace

TEST_F(StandIn, MissingTableFileListsTheWindows7DefaultInCp932WithCrLf) {
    const QByteArray bytes = NetshBytes({QStringLiteral("interface"), QStringLiteral("ipv6"), QStringLiteral("show"),
                                         QStringLiteral("prefixpolicies")});
    const QString expected = kHead + QStringLiteral(
                                         "        50      0  ::1/128\r\n"
                                         "        40      1  ::/0\r\n"
                                         "        30      2  2002::/16\r\n"
                                         "        20      3  ::/96\r\n"
                                         "        10      4  ::ffff:0:0/96\r\n"
                                         "         5      5  2001::/32\r\n"
                                         "\r\n");
    EXPECT_EQ(bytes, platform::ToCp932(expected));
    EXPECT_TRUE(bytes.startsWith("\x83\x41\x83\x4e\x83\x65\x83\x42\x83\x75"));  // アクティブ in CP932
    EXPECT_FALSE(QFileInfo::exists(TablePath()));  // reading creates neither the table
    EXPECT_FALSE(QFileInfo::exists(TablePath() + QStringLiteral(".lock")));  // nor the lock file
}

TEST_F(StandIn, XpListingIsLowestPrecedenceFirstAndTiesKeepTableOrder) {
    WriteTable("10 1 2001:db8::/32\n50 0 ::1/128\n10 2 2001:db9::/32\n");
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 show prefixpolicy")),
              kHead + QStringLiteral("        10      1  2001:db8::/32\r\n        10      2  2001:db9::/32\r\n"
                                     "        50      0  ::1/128\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 show prefixpolicies")),
              kHead + QStringLiteral("        50      0  ::1/128\r\n        10      1  2001:db8::/32\r\n"
                                     "        10      2  2001:db9::/32\r\n\r\n"));
}

TEST_F(StandIn, EmptyTableFileIsAnEmptyTable) {
    WriteTable("");
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 show prefixpolicies")), kHead + QStringLiteral("\r\n"));
}

TEST_F(StandIn, LargeNumbersUseTheirFullWidth) {
    WriteTable("4294967295 4294967295 ::/0\n");
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 show prefixpolicies")),
              kHead + QStringLiteral("4294967295  4294967295  ::/0\r\n\r\n"));
}

TEST_F(StandIn, AddAndDeletePrintOkAndChangeTheTable) {
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 add prefixpolicy 2001:DB8::/32 45 13")), QStringLiteral("OK\r\n\r\n"));
    EXPECT_EQ(TableEntries().last(), QStringLiteral("45 13 2001:DB8::/32"));  // stored as given
    EXPECT_EQ(TableEntries().size(), 7);
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 delete prefixpolicy 2001:0db8:0::/32")), QStringLiteral("OK\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 delete prefixpolicy ::1/128")), QStringLiteral("OK\r\n\r\n"));
    EXPECT_EQ(TableEntries(), QStringList({"40 1 ::/0", "30 2 2002::/16", "20 3 ::/96", "10 4 ::ffff:0:0/96", "5 5 2001::/32"}));
}

TEST_F(StandIn, NamedParametersAndCaseInsensitiveWordsAreAccepted) {
    WriteTable("");
    EXPECT_EQ(Netsh(QStringLiteral("INTERFACE IPv6 Add PrefixPolicy label=3 prefix=2001:db8::/48 precedence=7 store=active")),
              QStringLiteral("OK\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 add prefixpolicy 2001:db9::/48 8 4 persistent")), QStringLiteral("OK\r\n\r\n"));
    EXPECT_EQ(TableEntries(), QStringList({"7 3 2001:db8::/48", "8 4 2001:db9::/48"}));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 delete prefixpolicy prefix=2001:db8::/48")), QStringLiteral("OK\r\n\r\n"));
}

TEST_F(StandIn, DuplicateAndMissingPrefixesAreRefusedByAddressAndLength) {
    WriteTable("40 1 2001:db8::/32\n");
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 add prefixpolicy 2001:0DB8:0:0::/32 1 1")),
              QStringLiteral("オブジェクトは既に存在します。\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 add prefixpolicy 2001:db8::/33 1 1")), QStringLiteral("OK\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 delete prefixpolicy 2001:db8::/31")),
              QStringLiteral("指定されたファイルが見つかりません。\r\n\r\n"));
    EXPECT_EQ(TableEntries(), QStringList({"40 1 2001:db8::/32", "1 1 2001:db8::/33"}));
}

TEST_F(StandIn, MalformedOrMissingArgumentsPrintASyntaxErrorAndChangeNothing) {
    WriteTable("40 1 2001:db8::/32\n");
    const QByteArray before = ReadTable();
    for (const char* line :
         {"add prefixpolicy 2001:db8::/129 1 1", "add prefixpolicy 2001:db8:: 1 1", "add prefixpolicy 2001:zz8::/32 1 1",
          "add prefixpolicy 2001:db8::/32/1 1 1", "add prefixpolicy 2001:db9::/32 x 1", "add prefixpolicy 2001:db9::/32 1 -1",
          "add prefixpolicy 2001:db9::/32 4294967296 1", "add prefixpolicy 2001:db9::/32 1", "add prefixpolicy",
          "add prefixpolicy 2001:db9::/32 1 1 active extra", "add prefixpolicy 2001:db9::/32 1 1 store=nowhere",
          "add prefixpolicy colour=red 2001:db9::/32 1 1", "add prefixpolicy 2001:db9::/32 1 1 label=2",
          "delete prefixpolicy", "delete prefixpolicy 2001:db8::", "show prefixpolicies extra words"}) {
        const QString out = Netsh(QStringLiteral("interface ipv6 ") + QLatin1String(line));
        EXPECT_TRUE(out.startsWith(QStringLiteral("パラメーターが間違っています。\r\n")) ||
                    out.startsWith(QStringLiteral("指定されたコマンドの構文が正しくありません。\r\n")))
            << line << ": " << out.toStdString();
        EXPECT_TRUE(out.endsWith(QStringLiteral("\r\n")));
        EXPECT_EQ(ReadTable(), before) << line;
    }
}

TEST_F(StandIn, UnknownCommandNamesTheCommand) {
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 frobnicate prefixpolicy")),
              QStringLiteral("次のコマンドが見つかりませんでした: interface ipv6 frobnicate prefixpolicy\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv4 show")),
              QStringLiteral("次のコマンドが見つかりませんでした: interface ipv4 show\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 show prefixes")),
              QStringLiteral("次のコマンドが見つかりませんでした: interface ipv6 show prefixes\r\n\r\n"));
}

TEST_F(StandIn, BareContextPrintsSeveralLinesOfHelpThatNoReaderTakesForATable) {
    const QString out = Netsh(QStringLiteral("interface ipv6"));
    const QStringList lines = out.split(QStringLiteral("\r\n"));
    EXPECT_GE(lines.size(), 6);
    EXPECT_EQ(lines[0], QStringLiteral("次のコマンドを利用できます:"));
    EXPECT_TRUE(out.contains(QStringLiteral("\r\nadd ")));
    CPolicyList list;
    EXPECT_EQ(manager.ConvertToPolicy(out, list), 0);
    EXPECT_TRUE(list.isEmpty());  // not even one help line was taken for an entry
    for (const QString& line : {QStringLiteral(""), QStringLiteral("interface"), QStringLiteral("interface ipv6 ?"),
                                QStringLiteral("interface ipv6 add"), QStringLiteral("interface ipv6 show")}) {
        const QString help = Netsh(line);
        EXPECT_GE(help.count(QStringLiteral("\r\n")), 3) << line.toStdString();
        EXPECT_EQ(manager.ConvertToPolicy(help, list), 0) << line.toStdString();
        EXPECT_TRUE(list.isEmpty()) << line.toStdString();
    }
}

TEST_F(StandIn, UnwritableTableIsReportedAsAccessDeniedAndStaysAsItWas) {
    WriteTable("40 1 2001:db8::/32\n");
    ASSERT_TRUE(QFile::setPermissions(TablePath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = ReadTable();
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 add prefixpolicy ::/0 1 1")), QStringLiteral("アクセスが拒否されました。\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 delete prefixpolicy 2001:db8::/32")),
              QStringLiteral("アクセスが拒否されました。\r\n\r\n"));
    EXPECT_EQ(ReadTable(), before);
    // Reading still works.
    EXPECT_TRUE(Netsh(QStringLiteral("interface ipv6 show prefixpolicies")).contains(QStringLiteral("2001:db8::/32")));
}

TEST_F(StandIn, TableInAFolderThatCannotBeWrittenIsAccessDenied) {
    const QString dir = t.Dir() + QStringLiteral("locked/");
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
    ostabletest::CEnvVar table("NETSH_PREFIXPOLICY_FILE", (dir + QStringLiteral("table")).toLocal8Bit());
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 delete prefixpolicy ::/0")), QStringLiteral("アクセスが拒否されました。\r\n\r\n"));
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("table")));
    EXPECT_TRUE(Netsh(QStringLiteral("interface ipv6 show prefixpolicies")).contains(QStringLiteral("::ffff:0:0/96")));
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(StandIn, DamagedTableFileIsReportedAndNotOverwritten) {
    WriteTable("40 1 2001:db8::/32\nthis is not an entry\n");
    const QByteArray before = ReadTable();
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 show prefixpolicies")), QStringLiteral("データが無効です。\r\n\r\n"));
    EXPECT_EQ(Netsh(QStringLiteral("interface ipv6 add prefixpolicy ::/0 1 1")), QStringLiteral("データが無効です。\r\n\r\n"));
    EXPECT_EQ(ReadTable(), before);
}

TEST_F(StandIn, ConcurrentChangesAreSerialisedAndNoneIsLost) {
    WriteTable("");
    constexpr int kRuns = 24;
    std::vector<std::thread> threads;
    std::vector<QByteArray> outputs(kRuns);
    const QString netsh = testsupport::StageDir() + QStringLiteral("/netsh");
    for (int i = 0; i < kRuns; ++i) {
        threads.emplace_back([&, i] {
            outputs[size_t(i)] = platform::RunCaptured(netsh, {QStringLiteral("netsh"), QStringLiteral("interface"), QStringLiteral("ipv6"),
                                                                QStringLiteral("add"), QStringLiteral("prefixpolicy"),
                                                                QStringLiteral("2001:db8:%1::/48").arg(i, 0, 16), QStringLiteral("1"),
                                                                QStringLiteral("1")})
                                     .output;
        });
    }
    for (std::thread& th : threads) th.join();
    for (const QByteArray& out : outputs) EXPECT_EQ(out, QByteArray("OK\r\n\r\n"));
    EXPECT_EQ(TableEntries().size(), kRuns);
}

TEST_F(StandIn, DefaultTableFileLivesBesideTheStandIn) {
    // A private copy of the stand-in, so the staged default file is never touched.
    const QString copy = t.Dir() + QStringLiteral("private/netsh");
    ASSERT_TRUE(QDir().mkpath(t.Dir() + QStringLiteral("private")));
    ASSERT_TRUE(QFile::copy(testsupport::StageDir() + QStringLiteral("/netsh"), copy));
    ostabletest::CEnvVar unset("NETSH_PREFIXPOLICY_FILE", QByteArray());
    qunsetenv("NETSH_PREFIXPOLICY_FILE");
    const auto out = platform::RunCaptured(copy, {QStringLiteral("netsh"), QStringLiteral("interface"), QStringLiteral("ipv6"),
                                                  QStringLiteral("delete"), QStringLiteral("prefixpolicy"), QStringLiteral("::/0")});
    EXPECT_EQ(out.output, QByteArray("OK\r\n\r\n"));
    const QString table = t.Dir() + QStringLiteral("private/netsh-prefixpolicy.table");
    ASSERT_TRUE(QFileInfo::exists(table));
    EXPECT_FALSE(testsupport::ReadFile(table).contains("::/0"));
    EXPECT_TRUE(testsupport::ReadFile(table).contains("50 0 ::1/128"));
}

TEST_F(StandIn, IpconfigPrintsEveryInterfaceInTheWindowsLayout) {
    const QByteArray bytes = platform::RunCaptured(testsupport::StageDir() + QStringLiteral("/ipconfig"),
                                                   {QStringLiteral("ipconfig"), QStringLiteral("/all")})
                                 .output;
    // Every line ends in CR LF.
    EXPECT_EQ(bytes.count("\n"), bytes.count("\r\n"));
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    const QString text = platform::FromCp932(bytes);
    EXPECT_FALSE(text.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(text.startsWith(QStringLiteral("\r\nWindows IP 構成\r\n\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("   ホスト名")));
    struct if_nameindex* names = ::if_nameindex();
    ASSERT_NE(names, nullptr);
    for (struct if_nameindex* p = names; p->if_index != 0; ++p) {
        const QString name = QString::fromLocal8Bit(p->if_name);
        const QString sys = QStringLiteral("/sys/class/net/") + name;
        const bool loopback = QString::fromLatin1(testsupport::ReadFile(sys + QStringLiteral("/type"))).trimmed() == u"772";
        const QRegularExpression heading(QStringLiteral("\r\n\\S.* アダプター ") + QRegularExpression::escape(name) +
                                         QStringLiteral(":\r\n"));
        EXPECT_EQ(text.contains(heading), !loopback) << name.toStdString();
        const QString mac = QString::fromLatin1(testsupport::ReadFile(sys + QStringLiteral("/address"))).trimmed();
        if (!loopback && mac.size() == 17 && mac != u"00:00:00:00:00:00") {
            EXPECT_TRUE(text.contains(QStringLiteral(": ") + mac.toUpper().replace(u':', u'-') + QStringLiteral("\r\n")))
                << name.toStdString();
        }
    }
    ::if_freenameindex(names);
    const QRegularExpression physical(QStringLiteral("   物理アドレス[. ]+: ([0-9A-F]{2}(-[0-9A-F]{2})*)?\r\n"));
    EXPECT_TRUE(text.contains(physical) || !text.contains(QStringLiteral("アダプター ")));
}

TEST_F(StandIn, IpconfigColonsLineUp) {
    const QString text = platform::FromCp932(
        platform::RunCaptured(testsupport::StageDir() + QStringLiteral("/ipconfig"), {QStringLiteral("ipconfig"), QStringLiteral("/all")}).output);
    for (const QString& line : text.split(QStringLiteral("\r\n"))) {
        if (!line.startsWith(QStringLiteral("   "))) continue;
        int width = 0;
        qsizetype i = 0;
        for (; i < line.size() && line.mid(i, 2) != QStringLiteral(": "); ++i) width += line[i].unicode() < 0x80 ? 1 : 2;
        EXPECT_EQ(width, 41) << line.toStdString();
    }
}

TEST_F(StandIn, IpconfigRejectsAnUnknownOption) {
    const QString text = platform::FromCp932(
        platform::RunCaptured(testsupport::StageDir() + QStringLiteral("/ipconfig"), {QStringLiteral("ipconfig"), QStringLiteral("/bogus")}).output);
    EXPECT_TRUE(text.contains(QStringLiteral("/bogus")));
    EXPECT_TRUE(text.contains(QStringLiteral("使用法:")));
}
