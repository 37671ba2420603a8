// The command runner against real child processes.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "ostabletest.h"
#include "platform/process.h"

using ostabletest::COsTableTest;

namespace {

int OpenDescriptorCount() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

QString Expected(int n) {
    QString s;
    for (int i = 0; i < n; ++i) s += QChar(u'a' + i % 26);
    return s;
}

class Runner : public COsTableTest {
protected:
    void SetUp() override { InstallTestCmd(); }
};

}  // namespace

TEST_F(Runner, CommandThatPrintsNothingGivesEmptyTextNotNg) {
    const QString out = manager.ExecuteCommand(QStringLiteral("testcmd silent"));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_NE(out, QStringLiteral("NG"));
    EXPECT_TRUE(LogHas(QStringLiteral("CPolicyListManagerクラスのExecuteCommandの処理を終了します。")));
}

TEST_F(Runner, OutputLongerThanOneReadArrivesWholeAndInOrder) {
    for (int n : {1022, 1023, 1024, 2047, 5000, 100000}) {
        EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("testcmd bytes %1").arg(n)), Expected(n)) << n;
    }
}

TEST_F(Runner, StandardErrorIsInterleavedWithStandardOutputInWritingOrder) {
    QString expected;
    for (int i = 0; i < 200; ++i) expected += QStringLiteral("out%1\nerr%1\n").arg(i);
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("testcmd alternate 200")), expected);
}

TEST_F(Runner, ExitCodeDoesNotChangeTheResult) {
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("testcmd exit 3 printed")), QStringLiteral("printed"));
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("testcmd exit 0 NG")), QStringLiteral("NG"));
}

TEST_F(Runner, OutputIsConvertedFromCp932AsAWholeAcrossReadBoundaries) {
    // The first double-byte character straddles the end of the first 1023-byte read.
    const QString out = manager.ExecuteCommand(QStringLiteral("testcmd cp932 1022"));
    EXPECT_EQ(out, QString(1022, u'a') + QStringLiteral("日本語"));
}

TEST_F(Runner, MissingProgramGivesNgAndTracesTheFailedStep) {
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("no-such-program-here show")), QStringLiteral("NG"));
    EXPECT_TRUE(LogHas(QStringLiteral(",DEBUG,CreateProcess=FALSE")));
    EXPECT_FALSE(LogHas(QStringLiteral("ExecuteCommandの処理を終了します")));
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
}

TEST_F(Runner, EmptyCommandLineGivesNg) {
    EXPECT_EQ(manager.ExecuteCommand(QString()), QStringLiteral("NG"));
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("   ")), QStringLiteral("NG"));
}

TEST_F(Runner, FileThatIsNotExecutableIsNotRun) {
    ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("plainfile"), "#!/bin/sh\necho ran\n"));
    QFile::setPermissions(t.Dir() + QStringLiteral("plainfile"), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("plainfile")), QStringLiteral("NG"));
    ASSERT_TRUE(QDir().mkpath(t.Dir() + QStringLiteral("afolder")));
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("afolder")), QStringLiteral("NG"));
}

TEST_F(Runner, ProgramDirectoryIsSearchedBeforePath) {
    const QString pathDir = t.Dir() + QStringLiteral("bin/");
    ASSERT_TRUE(QDir().mkpath(pathDir));
    ASSERT_TRUE(testsupport::WriteFile(pathDir + QStringLiteral("probe"), "#!/bin/sh\necho from-path\n"));
    QFile::setPermissions(pathDir + QStringLiteral("probe"), QFile::ReadOwner | QFile::ExeOwner);
    ostabletest::CEnvVar path("PATH", QByteArray("/nonexistent::") + pathDir.toLocal8Bit());
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("probe")), QStringLiteral("from-path\n"));

    ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("probe"), "#!/bin/sh\necho from-program-dir\n"));
    QFile::setPermissions(t.Dir() + QStringLiteral("probe"), QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("probe")), QStringLiteral("from-program-dir\n"));
}

TEST_F(Runner, EmptyPathEntriesDoNotMeanTheCurrentFolder) {
    const QString cwd = QDir::currentPath();
    const QString here = t.Dir() + QStringLiteral("cwd/");
    ASSERT_TRUE(QDir().mkpath(here));
    ASSERT_TRUE(QFile::link(ostabletest::TestCmdPath(), here + QStringLiteral("cwdprobe")));
    ASSERT_TRUE(QDir::setCurrent(here));
    ostabletest::CEnvVar path("PATH", QByteArray(":"));
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("cwdprobe silent")), QStringLiteral("NG"));
    QDir::setCurrent(cwd);
}

TEST_F(Runner, WordsAreSplitAtBlanksAndGroupedByDoubleQuotes) {
    const QString out = manager.ExecuteCommand(QStringLiteral("testcmd  args a \"b c\" \"\" d\"e f\"g\tend \"open quote"));
    EXPECT_EQ(out, QStringLiteral("[testcmd]\n[args]\n[a]\n[b c]\n[]\n[de fg]\n[end]\n[open quote]\n"));
}

TEST_F(Runner, ShellCharactersReachTheProgramAsPlainArguments) {
    const QString marker = t.Dir() + QStringLiteral("marker");
    const QString line = QStringLiteral("testcmd args ;touch %1 $(touch %1) `touch %1` 'q' | cat && rm -rf x > y").arg(marker);
    EXPECT_EQ(manager.ExecuteCommand(line),
              QStringLiteral("[testcmd]\n[args]\n[;touch]\n[%1]\n[$(touch]\n[%1)]\n[`touch]\n[%1`]\n['q']\n[|]\n[cat]\n"
                             "[&&]\n[rm]\n[-rf]\n[x]\n[>]\n[y]\n")
                  .arg(marker));
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST_F(Runner, ProgramGivenAsAPathIsRunDirectly) {
    EXPECT_EQ(manager.ExecuteCommand(ostabletest::TestCmdPath() + QStringLiteral(" exit 0 direct")), QStringLiteral("direct"));
}

TEST_F(Runner, StandardInputIsEmpty) {
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("testcmd stdin")), QStringLiteral("/dev/null 0\n"));
}

TEST_F(Runner, ChildInheritsOnlyTheThreeStandardDescriptors) {
    // A descriptor this process opened without close-on-exec is not handed on either.
    const int leaky = ::dup(0);
    ASSERT_GE(leaky, 0);
    EXPECT_EQ(manager.ExecuteCommand(QStringLiteral("testcmd fds")), QStringLiteral("0 1 2\n"));
    ::close(leaky);
}

TEST_F(Runner, NoDescriptorIsLeftOpenAndNoChildIsLeftUnreaped) {
    manager.ExecuteCommand(QStringLiteral("testcmd silent"));  // the log file exists from now on
    const int before = OpenDescriptorCount();
    for (int i = 0; i < 20; ++i) {
        manager.ExecuteCommand(QStringLiteral("testcmd bytes 3000"));
        manager.ExecuteCommand(QStringLiteral("no-such-program"));
        manager.ExecuteCommand(QStringLiteral("testcmd exit 7"));
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(Runner, ChildStartsWithDefaultSignalHandling) {
    // An ignored SIGPIPE here must not become an ignored SIGPIPE in the child.
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old), 0);
    const QString out = manager.ExecuteCommand(QStringLiteral("testcmd sigign"));
    ::sigaction(SIGPIPE, &old, nullptr);
    // SIGPIPE is bit 13 (value 0x1000) of the ignored-signal mask.
    ASSERT_TRUE(out.startsWith(QStringLiteral("SigIgn:"))) << out.toStdString();
    const qulonglong mask = out.mid(7).trimmed().toULongLong(nullptr, 16);
    EXPECT_EQ(mask & 0x1000ull, 0ull);
}

TEST(CommandLineWords, SplitsAtBlanksAndKeepsQuotedBlanks) {
    using platform::SplitCommandLine;
    EXPECT_EQ(SplitCommandLine(QStringLiteral("netsh interface ipv6 ")),
              QStringList({QStringLiteral("netsh"), QStringLiteral("interface"), QStringLiteral("ipv6")}));
    EXPECT_EQ(SplitCommandLine(QStringLiteral("a\"b\"c")), QStringList({QStringLiteral("abc")}));
    EXPECT_EQ(SplitCommandLine(QStringLiteral("\"\"")), QStringList({QString()}));
    EXPECT_TRUE(SplitCommandLine(QStringLiteral(" \t ")).isEmpty());
}

TEST(RunCaptured, NulInsideAWordIsRefusedRatherThanCut) {
    const platform::CRunResult r =
        platform::RunCaptured(ostabletest::TestCmdPath(), {QStringLiteral("testcmd"), QStringLiteral("ar") + QChar(0) + u'g'});
    EXPECT_EQ(r.failure, platform::ERunFailure::Spawn);
}

TEST(RunCaptured, OptionsCaptureStandardOutputAloneAndStopAChildAtALimit) {
    struct Case {
        const char* name;
        QStringList words;
        platform::CRunOptions options;
        QByteArray output;  // expected in full, or as the start when stopped at the output limit
        bool limitReached;
        int exitCode;  // -1: killed
    };
    const QString t = QStringLiteral("testcmd");
    const Case cases[] = {
        {"error to null", {t, QStringLiteral("alternate"), QStringLiteral("2")}, {true, -1, -1},
         "out0\nout1\n", false, 0},
        {"exit code", {t, QStringLiteral("exit"), QStringLiteral("3"), QStringLiteral("x")},
         {false, 60000, 100}, "x", false, 3},
        {"output limit", {t, QStringLiteral("bytes"), QStringLiteral("1000000")},
         {false, -1, 3000}, Expected(3001).toLatin1(), true, -1},
        {"time limit", {t, QStringLiteral("hang")}, {false, 200, -1}, "", true, -1},
        {"closed output, still running", {t, QStringLiteral("detach")}, {false, 200, -1}, "", true,
         -1},
    };
    for (const Case& c : cases) {
        const platform::CRunResult r =
            platform::RunCaptured(ostabletest::TestCmdPath(), c.words, c.options);
        EXPECT_EQ(r.failure, platform::ERunFailure::None) << c.name;
        EXPECT_EQ(r.limitReached, c.limitReached) << c.name;
        EXPECT_EQ(r.exited, c.exitCode >= 0) << c.name;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name;
        if (c.limitReached && !c.output.isEmpty()) {
            // Stopped within one read of the limit.
            EXPECT_LE(r.output.size(), c.options.maxOutputBytes + platform::kRunReadChunk)
                << c.name;
            EXPECT_TRUE(r.output.startsWith(c.output)) << c.name;
        } else {
            EXPECT_EQ(r.output, c.output) << c.name;
        }
    }
}
