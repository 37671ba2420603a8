// Command-line words: /e and -E select editor mode, /g records the word after it.
#include "app/commandline.h"

#include <gtest/gtest.h>

#include "logtestutil.h"
#include "support/testsupport.h"

namespace {

class CommandLine : public ::testing::Test {
protected:
    CZarnCommandLineInfo Parse(const QStringList& words) {
        CZarnCommandLineInfo info(&m_t.App());
        info.ParseCommandLine(words);
        return info;
    }
    QStringList Log() const {
        return WordsAndTexts(ReadLog(m_t.Dir() + QStringLiteral("zarntool.log")));
    }
    testsupport::CTestApp m_t;
};

}  // namespace

TEST_F(CommandLine, NothingGivenMeansApplyMode) {
    const CZarnCommandLineInfo info = Parse({});
    EXPECT_FALSE(info.m_bOptionE);
    EXPECT_FALSE(info.m_bOptionG);
    EXPECT_TRUE(info.m_csOptionG.isEmpty());
    EXPECT_EQ(info.m_nOptionCount, 0);
    EXPECT_EQ(info.m_nOptionGIndex, 0);
    EXPECT_TRUE(Log().isEmpty());
}

TEST_F(CommandLine, EditorFlagWithEitherMarkAndCase) {
    for (const char* word : {"/e", "-e", "/E", "-E"}) {
        const CZarnCommandLineInfo info = Parse({QString::fromLatin1(word)});
        EXPECT_TRUE(info.m_bOptionE) << word;
        EXPECT_FALSE(info.m_bOptionG) << word;
        EXPECT_EQ(info.m_nOptionCount, 1) << word;
    }
}

TEST_F(CommandLine, GRecordsItsWordAndChangesNothingElse) {
    const CZarnCommandLineInfo info = Parse({"/g", "http"});
    EXPECT_TRUE(info.m_bOptionG);
    EXPECT_EQ(info.m_csOptionG, QStringLiteral("http"));
    EXPECT_FALSE(info.m_bOptionE);
    EXPECT_EQ(info.m_nOptionCount, 1);
    EXPECT_EQ(info.m_nOptionGIndex, 1);
}

TEST_F(CommandLine, GWithEditorFlagAfterIt) {
    const CZarnCommandLineInfo info = Parse({"/g", "dhcp", "/e"});
    EXPECT_TRUE(info.m_bOptionE);
    EXPECT_TRUE(info.m_bOptionG);
    EXPECT_EQ(info.m_csOptionG, QStringLiteral("dhcp"));
    EXPECT_EQ(info.m_nOptionCount, 2);
    EXPECT_EQ(info.m_nOptionGIndex, 1);
}

TEST_F(CommandLine, LastWordAfterGWins) {
    const CZarnCommandLineInfo info = Parse({"-G", "dhcp", "http", "other"});
    EXPECT_TRUE(info.m_bOptionG);
    EXPECT_EQ(info.m_csOptionG, QStringLiteral("other"));
}

TEST_F(CommandLine, WordsAfterAnotherFlagAreNotTaken) {
    const CZarnCommandLineInfo info = Parse({"/g", "/e", "http"});
    EXPECT_TRUE(info.m_bOptionG);
    EXPECT_TRUE(info.m_bOptionE);
    EXPECT_TRUE(info.m_csOptionG.isEmpty());
    EXPECT_EQ(info.m_nOptionGIndex, 1);
    EXPECT_EQ(info.m_nOptionCount, 2);
}

TEST_F(CommandLine, WordBeforeAnyFlagIsStoredWithoutSettingG) {
    const CZarnCommandLineInfo info = Parse({"first", "second"});
    EXPECT_FALSE(info.m_bOptionG);
    EXPECT_EQ(info.m_csOptionG, QStringLiteral("second"));
    EXPECT_EQ(info.m_nOptionCount, 0);
}

TEST_F(CommandLine, OtherFlagsOnlyCount) {
    const CZarnCommandLineInfo info = Parse({"/x", "/", "--e", "/ge", "/g", "w"});
    EXPECT_FALSE(info.m_bOptionE);
    EXPECT_TRUE(info.m_bOptionG);
    EXPECT_EQ(info.m_nOptionCount, 5);
    EXPECT_EQ(info.m_nOptionGIndex, 5);
    EXPECT_EQ(info.m_csOptionG, QStringLiteral("w"));
}

TEST_F(CommandLine, TracesEachWordAndEachFlagText) {
    Parse({"/E", "word", "-g"});
    const QString start =
        QStringLiteral("DEBUG,CZarnCommandLineInfoクラスのParseParamの処理を開始します。");
    const QString end =
        QStringLiteral("DEBUG,CZarnCommandLineInfoクラスのParseParamの処理を終了します。");
    EXPECT_EQ(Log(), (QStringList{start, "DEBUG,strOption=E", end, start, end, start,
                                  "DEBUG,strOption=g", end}));
}

TEST_F(CommandLine, ParamCallsMarkFlagsAndTheLastWord) {
    CZarnCommandLineInfo info(&m_t.App());
    info.ParseParam(QStringLiteral("g"), true, false);
    info.ParseParam(QStringLiteral("http"), false, true);
    EXPECT_TRUE(info.m_bOptionG);
    EXPECT_EQ(info.m_csOptionG, QStringLiteral("http"));
    CZarnCommandLineInfo detached;  // no application: parses without tracing
    detached.ParseCommandLine({"/e"});
    EXPECT_TRUE(detached.m_bOptionE);
}
