// netsh -f / netsh exec: a script of commands in one process, checked against the same commands
// run one process each (the real peer), on both stores.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include <random>

#include "ostable/netshscript.h"
#include "ostabletest.h"
#include "platform/codepage.h"
#include "platform/process.h"

namespace {

struct CRun {
    QString output;
    int code = -1;
};

CRun Netsh(const QStringList& words) {
    const platform::CRunResult run =
        platform::RunCaptured(testsupport::StageDir() + QStringLiteral("/netsh"), QStringList{QStringLiteral("netsh")} + words);
    return {platform::FromCp932(run.output), run.exited ? run.exitCode : -1};
}

// A seeded script: changes that take, changes that are refused (present, absent, malformed,
// out of range), listings, help and unknown commands, with blank and comment lines between.
QStringList RandomScript(std::mt19937& rng, int count) {
    static const QStringList kPrefixes = {"::1/128", "::/0", "2001:db8::/32", "2001:db8::1/32", "fd00::/8",
                                          "2002::/16", "::ffff:0:0/96", "2001::/32", "fc00::/7"};
    static const QStringList kOdd = {"interface ipv6 add prefixpolicy ::/0 1",
                                     "interface ipv6 add prefixpolicy fd00::/8 99999999999 1",
                                     "interface ipv6 delete prefixpolicy 2001:db8::/129",
                                     "interface ipv6 show prefixpolicies store=active",
                                     "interface ipv6 show prefixpolicy",
                                     "interface ipv6 add ?",
                                     "interface frobnicate",
                                     "interface ipv6 add prefixpolicy prefix=fc00::/7 label=3 precedence=7 store=persistent",
                                     "\"interface\" ipv6 delete prefixpolicy prefix=fc00::/7"};
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        const QString prefix = kPrefixes[int(rng() % kPrefixes.size())];
        switch (rng() % 8) {
            case 0: lines << kOdd[int(rng() % kOdd.size())]; break;
            case 1: lines << (rng() % 2 ? QString() : QStringLiteral("# a comment")); --i; break;
            case 2: case 3: lines << QStringLiteral("interface ipv6 delete prefixpolicy ") + prefix; break;
            default:
                lines << QStringLiteral("  interface ipv6 add prefixpolicy %1 %2 %3").arg(prefix).arg(rng() % 100).arg(rng() % 20);
        }
    }
    return lines;
}

class NetshScript : public ostabletest::COsTableTest, public ::testing::WithParamInterface<bool> {
protected:
    NetshScript() : m_conf(t.Dir().toLocal8Bit() + "gai.conf") {
        if (GetParam()) {
            m_env.emplace_back(std::make_unique<ostabletest::CEnvVar>("NETSH_STORE", "system"));
            m_env.emplace_back(std::make_unique<ostabletest::CEnvVar>("NETSH_GAI_CONF", m_conf));
            m_env.emplace_back(std::make_unique<ostabletest::CEnvVar>("NETSH_KERNEL_LABELS", "0"));
        } else {
            m_env.emplace_back(std::make_unique<ostabletest::CEnvVar>("NETSH_STORE", "file"));
        }
    }
    QString Store() const { return GetParam() ? QString::fromLocal8Bit(m_conf) : TablePath(); }
    void Reset(const QByteArray& start) {
        QFile::remove(Store());
        if (!start.isNull()) {
            ASSERT_TRUE(testsupport::WriteFile(Store(), start));
        }
    }

    QByteArray m_conf;
    std::vector<std::unique_ptr<ostabletest::CEnvVar>> m_env;
};

class NetshScriptFileStore : public ostabletest::COsTableTest {
protected:
    ostabletest::CEnvVar m_store{"NETSH_STORE", "file"};
};

}  // namespace

// Each command of a script prints what it prints alone, followed by its line and exit code, a
// refused command does not stop the script, and the store ends byte for byte as the commands
// leave it one process each.
TEST_P(NetshScript, EachCommandPrintsWhatItPrintsAloneAndTheStoreEndsTheSame) {
    const QByteArray starts[] = {QByteArray(), "", GetParam() ? QByteArray("reload no\nprecedence ::1/128 50\nlabel fd00::/8 3\n")
                                                              : QByteArray("50 0 ::1/128\n10 3 fd00::/8\n")};
    const QRegularExpression marker(QStringLiteral("^# end of line (\\d+), exit code (\\d+)\\r$"),
                                    QRegularExpression::MultilineOption);
    std::mt19937 rng(28);
    for (int round = 0; round < 6; ++round) {
        const QByteArray& start = starts[round % 3];
        const QStringList lines = RandomScript(rng, 18);
        Reset(start);
        QStringList alone;
        QList<int> lineNumbers;
        int anyFailed = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].trimmed().isEmpty() || lines[i].startsWith(u'#')) continue;
            const CRun run = Netsh(platform::SplitCommandLine(lines[i]));
            alone << run.output + QStringLiteral("# end of line %1, exit code %2\r\n").arg(i + 1).arg(run.code);
            lineNumbers << int(i + 1);
            anyFailed |= run.code != 0;
        }
        const QByteArray expectedStore = testsupport::ReadFile(Store());
        Reset(start);
        const QString script = t.Dir() + QStringLiteral("script.txt");
        ASSERT_TRUE(testsupport::WriteFile(script, lines.join(round % 2 ? QStringLiteral("\r\n") : QStringLiteral("\n")).toUtf8()));
        const CRun run = Netsh({round % 2 ? QStringLiteral("exec") : QStringLiteral("-f"), script});
        EXPECT_EQ(run.output, alone.join(QString())) << "round " << round << "\n" << lines.join(u'\n').toStdString();
        EXPECT_EQ(run.code, anyFailed) << round;
        EXPECT_EQ(testsupport::ReadFile(Store()), expectedStore) << round;
        QList<int> marked;
        for (auto it = marker.globalMatch(run.output); it.hasNext();) marked << it.next().captured(1).toInt();
        EXPECT_EQ(marked, lineNumbers) << round;
    }
    // A script that cannot be read is a file that is not found; nothing runs.
    EXPECT_EQ(Netsh({QStringLiteral("-f"), t.Dir() + QStringLiteral("absent.txt")}).output,
              QStringLiteral("指定されたファイルが見つかりません。\r\n\r\n"));
}

// A table that cannot be written at the end: every change of the script prints the failure it
// prints alone, a refused one its refusal, and the table stays as it was.
// (The system store's failures at the end are injected in LinuxStore.)
TEST_F(NetshScriptFileStore, AStoreThatCannotBeWrittenFailsEveryChangeOfTheScript) {
    WriteTable("40 1 2001:db8::/32\n");
    ASSERT_TRUE(QFile::setPermissions(TablePath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QStringList lines = {"interface ipv6 add prefixpolicy ::/0 1 1", "interface ipv6 delete prefixpolicy fd00::/8",
                               "interface ipv6 delete prefixpolicy 2001:db8::/32"};
    QString alone;
    for (int i = 0; i < lines.size(); ++i) {
        const CRun one = Netsh(platform::SplitCommandLine(lines[i]));
        alone += one.output + QStringLiteral("# end of line %1, exit code %2\r\n").arg(i + 1).arg(one.code);
    }
    ASSERT_TRUE(alone.contains(QStringLiteral("アクセスが拒否されました。"))) << alone.toStdString();
    ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("script.txt"), lines.join(u'\n').toUtf8()));
    const CRun run = Netsh({QStringLiteral("-f"), t.Dir() + QStringLiteral("script.txt")});
    EXPECT_EQ(run.output, alone);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(ReadTable(), "40 1 2001:db8::/32\n");
}

INSTANTIATE_TEST_SUITE_P(Stores, NetshScript, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "System" : "File"; });

// The program's side: the script it writes, and the outputs it reads back from the stand-in's
// marked form and from Windows' unmarked form (each output ending at its first empty line).
TEST(NetshScriptText, WritesCommandsWithoutTheProgramAndSplitsOutputsBack) {
    EXPECT_EQ(ostable::ScriptText({QStringLiteral("netsh interface ipv6 add prefixpolicy ::/0 40 1"),
                                   QStringLiteral("netsh interface ipv6 delete prefixpolicy ::1/128")}),
              QByteArray("interface ipv6 add prefixpolicy ::/0 40 1\r\ninterface ipv6 delete prefixpolicy ::1/128\r\n"));
    const QString ok = QStringLiteral("OK\r\n\r\n");
    const QString gone = QStringLiteral("指定されたファイルが見つかりません。\r\n\r\n");
    const QString part = QStringLiteral("アクセスが拒否されました。\r\n変更できなかった部分: x\r\n\r\n");
    const struct {
        QString output;
        qsizetype count;
        QStringList outputs;
    } cases[] = {
        {ok + QStringLiteral("# end of line 1, exit code 0\r\n") + gone + QStringLiteral("# end of line 3, exit code 1\r\n") + part +
             QStringLiteral("# end of line 4, exit code 1\r\n"),
         3, {ok, gone, part}},
        {ok + gone + part + ok, 4, {ok, gone, part, ok}},
        {ok + QStringLiteral("# end of line 1, exit code 0\r\n"), 3, {ok, QString(), QString()}},  // cut short
        {QStringLiteral("NG"), 2, {QStringLiteral("NG"), QString()}},
        {ok + QStringLiteral("OK\n\n"), 2, {ok, QStringLiteral("OK\n\n")}},
    };
    for (const auto& c : cases) EXPECT_EQ(ostable::SplitScriptOutput(c.output, c.count), c.outputs) << c.output.toStdString();
}
