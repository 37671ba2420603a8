// Start-up on temporary installation trees: the successful path, each fatal check with the box
// and the log lines it leaves, the socket failure, paths relative to the current folder, and two
// instances at once in two processes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "app/commandline.h"
#include "app/application.h"
#include "logtestutil.h"
#include "platform/instancelock.h"
#include "platform/profile.h"
#include "support/testsupport.h"

using testsupport::CScriptedPresenter;
using testsupport::CTempInstall;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const QString k300 = QStringLiteral("DEBUG,Corvaneを起動しました。");
const QString k301 = QStringLiteral("DEBUG,Corvaneを終了しました。");

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_install.IsValid());
        ASSERT_TRUE(
            WriteFile(m_install.Conf(QStringLiteral("policytable.conf")),
                      ReadFile(m_install.Conf(QStringLiteral("policytable.conf.default")))));
    }

    QString Dir() const { return m_install.Dir(); }
    QString Conf(const char* relative) const {
        return m_install.Conf(QString::fromLatin1(relative));
    }
    QString LangJson() const { return Conf("langs/Japanese/lang.json"); }
    void SetSetting(const char* key, const QString& value) {
        ASSERT_TRUE(platform::WriteProfileString(
            Conf("zarntool.ini"), QStringLiteral("APPLICATION"), QString::fromLatin1(key), value));
    }

    CZarntoolApp::Options Options() {
        CZarntoolApp::Options o;
        o.appDir = Dir();
        o.lockDir = m_locks.path();
        o.exeName = QStringLiteral("zarntool");
        o.presenter = &m_boxes;
        o.run = [this](CZarntoolApp& app, const CZarnCommandLineInfo& cmd) {
            m_events << QStringLiteral("run");
            m_editor = cmd.m_bOptionE;
            m_runApp = &app;
        };
        o.prepareUi = [this](CZarntoolApp&) { m_events << QStringLiteral("prepare"); };
        o.releaseUi = [this](CZarntoolApp&) { m_events << QStringLiteral("release"); };
        o.frameworkMessage = [this](const QString& caption, const QString& text) {
            m_events << QStringLiteral("framework:") + caption + u':' + text;
        };
        return o;
    }

    // Runs start-up and shutdown; returns what InitInstance returned.
    bool Start() { return StartWith(Options(), {}); }
    bool Start(const QStringList& args) { return StartWith(Options(), args); }
    bool StartWith(CZarntoolApp::Options options, const QStringList& args = {}) {
        CZarntoolApp app(std::move(options));
        const bool result = app.InitInstance(args);
        m_languageLoaded = app.IsLanguageLoaded();
        m_profile = app.m_pszProfileName;
        m_help = app.m_pszHelpFilePath;
        m_appName = app.m_pszAppName;
        m_license = app.m_csLicensePath;
        m_level = app.m_clLog.m_nLogLevel;
        app.ExitInstance();
        return result;
    }

    QStringList Log() const {
        return WordsAndTexts(ReadLog(Dir() + QStringLiteral("zarntool.log")));
    }
    // The log without the command-line trace lines.
    QStringList LogWithoutParse() const {
        QStringList out;
        for (const QString& l : Log())
            if (!l.contains(QStringLiteral("CZarnCommandLineInfoクラス")) &&
                !l.startsWith(QStringLiteral("DEBUG,strOption=")))
                out << l;
        return out;
    }
    QString LangTrace(const QString& lang) const {
        return QStringLiteral("DEBUG,cs_LangDll=") + Dir() + QStringLiteral("conf/langs/") + lang +
               QStringLiteral("/lang.json");
    }
    void ExpectOneFatalBox(int id, const QString& text) {
        ASSERT_EQ(m_boxes.shown.size(), 1) << "message " << id;
        EXPECT_EQ(m_boxes.shown[0].kind, LOG_FATAL);
        EXPECT_EQ(m_boxes.shown[0].text, text);
        EXPECT_EQ(m_boxes.shown[0].caption, QStringLiteral("Corvane"));
        EXPECT_FALSE(m_events.contains(QStringLiteral("run")));
    }

    CTempInstall m_install;
    QTemporaryDir m_locks;
    CScriptedPresenter m_boxes;
    QStringList m_events;
    bool m_editor = false;
    CZarntoolApp* m_runApp = nullptr;
    bool m_languageLoaded = false;
    QString m_profile, m_help, m_appName, m_license;
    int m_level = -1;
};

}  // namespace

TEST_F(Startup, PassesEveryCheckAndRunsInApplyMode) {
    EXPECT_FALSE(Start());
    EXPECT_TRUE(m_boxes.shown.isEmpty());
    EXPECT_EQ(m_events, (QStringList{"prepare", "run", "release"}));
    EXPECT_FALSE(m_editor);
    EXPECT_EQ(Log(), (QStringList{LangTrace(QStringLiteral("Japanese")), k300, k301}));
    EXPECT_TRUE(m_languageLoaded);
    EXPECT_EQ(m_profile, Dir() + QStringLiteral("conf/zarntool.ini"));
    EXPECT_EQ(m_help, Dir() + QStringLiteral("conf/langs/Japanese/help.chm"));
    EXPECT_EQ(m_license, Dir() + QStringLiteral("conf/langs/Japanese/license.rtf"));
    EXPECT_EQ(m_appName, QStringLiteral("Corvane"));
}

TEST_F(Startup, RunStepWithoutAnInstalledRunOnlyTracesThatItWasReached) {
    CZarntoolApp::Options o = Options();
    o.run = nullptr;
    EXPECT_FALSE(StartWith(o, {QStringLiteral("/e")}));
    EXPECT_EQ(
        LogWithoutParse(),
        (QStringList{LangTrace(QStringLiteral("Japanese")), k300,
                     "DEBUG,CZarntoolAppクラスのRunの処理を開始します。", "DEBUG,m_bOptionE=TRUE",
                     "DEBUG,CZarntoolAppクラスのRunの処理を終了します。", k301}));
}

TEST_F(Startup, TextsComeFromTheLanguageLibraryOnceItIsLoaded) {
    QByteArray json = ReadFile(LangJson());
    json.replace("Corvaneを起動しました。", "LANGUAGE-300");
    json.replace("\"701\": \"Corvane\"", "\"701\": \"Corvane-JA\"");
    ASSERT_TRUE(WriteFile(LangJson(), json));
    Start();
    EXPECT_EQ(Log(),
              (QStringList{LangTrace(QStringLiteral("Japanese")), "DEBUG,LANGUAGE-300", k301}));
    EXPECT_EQ(m_appName, QStringLiteral("Corvane-JA"));
}

TEST_F(Startup, MissingSettingsFileShows602) {
    ASSERT_TRUE(QFile::remove(Conf("zarntool.ini")));
    EXPECT_FALSE(Start());
    ExpectOneFatalBox(602, QStringLiteral("設定ファイルが存在しません。起動できません。"));
    // No settings: nothing is read, the language is not loaded, the help path takes the default.
    EXPECT_EQ(Log(),
              (QStringList{k300, "FATAL,設定ファイルが存在しません。起動できません。", k301}));
    EXPECT_FALSE(m_languageLoaded);
    EXPECT_TRUE(m_profile.isEmpty());
    EXPECT_EQ(m_help, Dir() + QStringLiteral("conf/langs/Japanese/help.chm"));
    EXPECT_TRUE(m_events.isEmpty());
}

TEST_F(Startup, NoLanguageFolderShows603) {
    ASSERT_TRUE(QDir(Conf("langs")).removeRecursively());
    Start();
    ExpectOneFatalBox(603, QStringLiteral("言語ファイルが存在しません。起動できません。"));
    const QStringList log = Log();
    ASSERT_EQ(log.size(), 5);
    EXPECT_EQ(log[0], LangTrace(QStringLiteral("Japanese")));
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("DEBUG,csError=")));
    EXPECT_EQ(log.mid(2),
              (QStringList{k300, "FATAL,言語ファイルが存在しません。起動できません。", k301}));
}

TEST_F(Startup, EmptyLanguageFolderOrOneWithOnlyFilesShows603) {
    ASSERT_TRUE(QDir(Conf("langs")).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(Conf("langs")));
    Start();
    ExpectOneFatalBox(603, QStringLiteral("言語ファイルが存在しません。起動できません。"));
    m_boxes.shown.clear();
    ASSERT_TRUE(WriteFile(Conf("langs/Japanese"), "a file, not a folder"));
    ASSERT_TRUE(WriteFile(Conf("langs/.hidden"), "x"));
    Start();
    ExpectOneFatalBox(603, QStringLiteral("言語ファイルが存在しません。起動できません。"));
}

TEST_F(Startup, MissingLangKeyShows604WithTheEmptyLanguageInThePath) {
    ASSERT_TRUE(WriteFile(Conf("zarntool.ini"), "[APPLICATION]\r\nLOG_LEVEL=DEBUG\r\n"));
    Start();
    ExpectOneFatalBox(
        604, QStringLiteral("設定された言語の言語ファイルが存在しません。起動できません。"));
    const QStringList log = Log();
    ASSERT_EQ(log.size(), 5);
    EXPECT_EQ(log[0], LangTrace(QString()));  // ".../conf/langs//lang.json"
    EXPECT_TRUE(log[0].endsWith(QStringLiteral("conf/langs//lang.json")));
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("DEBUG,csError=")));
    EXPECT_EQ(
        log.mid(2),
        (QStringList{k300, "FATAL,設定された言語の言語ファイルが存在しません。起動できません。",
                     k301}));
    EXPECT_EQ(m_help, Dir() + QStringLiteral("conf/langs/Japanese/help.chm"));
}

TEST_F(Startup, LanguageFolderWithoutItsLibraryShows604) {
    SetSetting("LANG", QStringLiteral("English"));
    ASSERT_TRUE(WriteFile(Conf("langs/English/license.rtf"), "{\\rtf1}"));
    Start();
    ExpectOneFatalBox(
        604, QStringLiteral("設定された言語の言語ファイルが存在しません。起動できません。"));
    EXPECT_EQ(Log().first(), LangTrace(QStringLiteral("English")));
    EXPECT_EQ(m_help, Dir() + QStringLiteral("conf/langs/English/help.chm"));
}

TEST_F(Startup, UnloadableLibraryShows605AfterTracingTheReason) {
    const QByteArray good = ReadFile(LangJson());
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"truncated", good.left(good.size() / 3)},
        {"not JSON", "MZ\x90 not a resource set"},
        {"wrong shape", "{\"strings\": [\"Corvane\"]}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(Dir() + QStringLiteral("zarntool.log"));
        m_boxes.shown.clear();
        ASSERT_TRUE(WriteFile(LangJson(), c.bytes));
        EXPECT_FALSE(Start());
        // The box text comes from the program's own set: the library never loaded.
        ExpectOneFatalBox(
            605, QStringLiteral("設定された言語の言語ファイルが認識できません。起動できません。"));
        const QStringList log = Log();
        ASSERT_EQ(log.size(), 5);
        EXPECT_EQ(log[0], LangTrace(QStringLiteral("Japanese")));
        EXPECT_TRUE(log[1].startsWith(QStringLiteral("DEBUG,csError=")));
        EXPECT_GT(log[1].size(), QStringLiteral("DEBUG,csError=").size());
        EXPECT_EQ(log.mid(2),
                  (QStringList{
                      k300, "FATAL,設定された言語の言語ファイルが認識できません。起動できません。",
                      k301}));
        EXPECT_FALSE(m_languageLoaded);
    }
}

TEST_F(Startup, LibraryLackingIdsStartsWithEmptyTexts) {
    ASSERT_TRUE(WriteFile(LangJson(), "{\"strings\": {\"300\": \"started\"}}"));
    EXPECT_FALSE(Start());
    EXPECT_TRUE(m_boxes.shown.isEmpty());
    EXPECT_EQ(m_events, (QStringList{"prepare", "run", "release"}));
    EXPECT_TRUE(m_appName.isEmpty());
    EXPECT_EQ(Log(),
              (QStringList{LangTrace(QStringLiteral("Japanese")), "DEBUG,started", "DEBUG,"}));
}

TEST_F(Startup, SocketFailureShowsTheFrameworkBox104WithoutLogging) {
    CZarntoolApp::Options o = Options();
    o.startSockets = [] { return false; };
    EXPECT_FALSE(StartWith(o));
    EXPECT_TRUE(m_boxes.shown.isEmpty());
    EXPECT_EQ(m_events, QStringList{"framework:Corvane:Windows ソケットの初期化に失敗しました。"});
    // Neither the message nor string 301 is logged.
    EXPECT_EQ(Log(), (QStringList{LangTrace(QStringLiteral("Japanese")), k300}));
}

TEST_F(Startup, ApplyModeWithoutPolicyTableShows606AndEditorModeDoesNot) {
    ASSERT_TRUE(QFile::remove(Conf("policytable.conf")));
    Start(QStringList{"/g", "http"});
    ExpectOneFatalBox(606,
                      QStringLiteral("ポリシテーブル設定ファイルが存在しません。起動できません。"));
    EXPECT_TRUE(m_events.isEmpty());  // 606 comes before the user interface is prepared
    EXPECT_EQ(
        LogWithoutParse(),
        (QStringList{LangTrace(QStringLiteral("Japanese")), k300,
                     "FATAL,ポリシテーブル設定ファイルが存在しません。起動できません。", k301}));
    // The command line was parsed before the check.
    EXPECT_TRUE(Log().contains(QStringLiteral("DEBUG,strOption=g")));

    m_boxes.shown.clear();
    Start(QStringList{"-E"});
    EXPECT_TRUE(m_boxes.shown.isEmpty());
    EXPECT_TRUE(m_editor);
    EXPECT_EQ(m_events, (QStringList{"prepare", "run", "release"}));
}

TEST_F(Startup, CommandLineChoosesTheMode) {
    Start(QStringList{"/g", "dhcp", "/e"});
    EXPECT_TRUE(m_editor);
    m_events.clear();
    Start(QStringList{"/g", "http"});
    EXPECT_FALSE(m_editor);
    Start(QStringList{"/E"});
    EXPECT_TRUE(m_editor);
    Start(QStringList{"e"});  // a word, not a flag
    EXPECT_FALSE(m_editor);
}

TEST_F(Startup, SecondInstanceInTheSameUserShows600) {
    platform::CInstanceLock other;
    ASSERT_EQ(other.Acquire(QStringLiteral("zarntool"), m_locks.path()),
              platform::CInstanceLock::Result::Acquired);
    EXPECT_FALSE(Start());
    ExpectOneFatalBox(600, QStringLiteral("ポリシテーブル設定ツールは既に起動されています。"));
    EXPECT_EQ(Log(), (QStringList{LangTrace(QStringLiteral("Japanese")), k300,
                                  "FATAL,ポリシテーブル設定ツールは既に起動されています。", k301}));
    // The other instance keeps its lock.
    EXPECT_TRUE(other.IsHeld());
    platform::CInstanceLock probe;
    EXPECT_EQ(probe.Acquire(QStringLiteral("zarntool"), m_locks.path()),
              platform::CInstanceLock::Result::AlreadyHeld);
}

TEST_F(Startup, InfoLevelHidesStartAndEndButNot600) {
    SetSetting("LOG_LEVEL", QStringLiteral("Info"));
    platform::CInstanceLock other;
    ASSERT_EQ(other.Acquire(QStringLiteral("zarntool"), m_locks.path()),
              platform::CInstanceLock::Result::Acquired);
    Start();
    EXPECT_EQ(m_level, LOG_INFO);
    EXPECT_EQ(Log(), QStringList{"FATAL,ポリシテーブル設定ツールは既に起動されています。"});
}

TEST_F(Startup, LogLevelWordFromTheSettingsFile) {
    SetSetting("LOG_LEVEL", QStringLiteral("warn"));
    Start();
    EXPECT_EQ(m_level, LOG_WARN);
    EXPECT_TRUE(Log().isEmpty());
    SetSetting("LOG_LEVEL", QStringLiteral("loud"));  // not a level word: everything is written
    Start();
    EXPECT_EQ(m_level, LOG_DEBUG);
    EXPECT_EQ(Log(), (QStringList{LangTrace(QStringLiteral("Japanese")), k300, k301}));
}

TEST_F(Startup, LockThatCannotBeTakenAtAllIsTracedAndStopsAsASecondInstanceWould) {
    // It cannot tell whether another instance runs: fail closed.
    CZarntoolApp::Options o = Options();
    o.lockDir = m_locks.path() + QStringLiteral("/missing");
    EXPECT_FALSE(StartWith(o));
    ExpectOneFatalBox(600, QStringLiteral("ポリシテーブル設定ツールは既に起動されています。"));
    EXPECT_TRUE(m_events.isEmpty());
    EXPECT_EQ(Log(),
              (QStringList{LangTrace(QStringLiteral("Japanese")), k300,
                           QStringLiteral("DEBUG,CInstanceLock::Acquire=%1").arg(ENOENT),
                           "FATAL,ポリシテーブル設定ツールは既に起動されています。", k301}));
}

TEST_F(Startup, ShutdownGivesTheLockBack) {
    CZarntoolApp app(Options());
    app.InitInstance(QStringList());
    platform::CInstanceLock probe;
    EXPECT_EQ(probe.Acquire(QStringLiteral("zarntool"), m_locks.path()),
              platform::CInstanceLock::Result::AlreadyHeld);
    app.ExitInstance();
    EXPECT_EQ(probe.Acquire(QStringLiteral("zarntool"), m_locks.path()),
              platform::CInstanceLock::Result::Acquired);
}

TEST_F(Startup, WithoutAProgramFolderPathsAreRelativeToTheCurrentFolder) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Dir()));
    CZarntoolApp::Options o = Options();
    o.appDir.clear();
    o.appDirFromProgram = false;
    CZarntoolApp app(o);
    app.InitInstance(QStringList());
    const QString log = app.m_clLog.m_sLogPath;
    const QString license = app.m_csLicensePath;
    app.ExitInstance();
    QDir::setCurrent(previous);
    EXPECT_TRUE(app.m_szAppDir.isEmpty());
    EXPECT_EQ(log, QStringLiteral("zarntool.log"));
    EXPECT_EQ(license, QStringLiteral("conf/langs/Japanese/license.rtf"));
    EXPECT_TRUE(m_boxes.shown.isEmpty());
    EXPECT_EQ(m_events, (QStringList{"prepare", "run", "release"}));
    EXPECT_EQ(Log(), (QStringList{"DEBUG,cs_LangDll=conf/langs/Japanese/lang.json", k300, k301}));
}

TEST_F(Startup, ProductionTakesTheProgramFolderFromTheProgramFile) {
    CZarntoolApp::Options o;  // as main() builds it, apart from the lock folder and the boxes
    o.lockDir = m_locks.path();
    o.presenter = &m_boxes;
    o.run = [this](CZarntoolApp&, const CZarnCommandLineInfo&) {
        m_events << QStringLiteral("run");
    };
    CZarntoolApp app(o);
    EXPECT_EQ(app.m_pszExeName, QStringLiteral("test_app"));
    app.InitInstance(QStringList());
    app.ExitInstance();
    EXPECT_EQ(app.m_szAppDir, QCoreApplication::applicationDirPath() + u'/');
    // The test binary's folder holds no installation: start-up stops at 602.
    ASSERT_EQ(m_boxes.shown.size(), 1);
    EXPECT_EQ(m_boxes.shown[0].text,
              QStringLiteral("設定ファイルが存在しません。起動できません。"));
    QFile::remove(app.m_szAppDir + QStringLiteral("zarntool.log"));
}

TEST_F(Startup, CurrentApplicationIsTheLiveOne) {
    EXPECT_EQ(CZarntoolApp::Current(), nullptr);
    {
        CZarntoolApp outer(Options());
        EXPECT_EQ(CZarntoolApp::Current(), &outer);
        outer.InitInstance(QStringList());
        EXPECT_EQ(m_runApp, &outer);
        outer.ExitInstance();
    }
    EXPECT_EQ(CZarntoolApp::Current(), nullptr);
}

// Two processes at once: the helper runs start-up on the same tree and stays in its run.
namespace {

bool WaitForLine(QProcess& p, const QByteArray& expected) {
    while (!p.canReadLine()) {
        if (!p.waitForReadyRead(20000)) return false;
    }
    return p.readLine().trimmed() == expected;
}

}  // namespace

TEST_F(Startup, TwoProcessesAtOnceTheSecondShows600AndTheFirstKeepsRunning) {
    QProcess first;
    first.start(QStringLiteral(CORVANE_INSTANCE_HELPER), {Dir(), m_locks.path()});
    ASSERT_TRUE(WaitForLine(first, "running")) << first.readAllStandardError().toStdString();

    // A second process on the same tree.
    QProcess second;
    second.start(QStringLiteral(CORVANE_INSTANCE_HELPER),
                 {Dir(), m_locks.path(), QStringLiteral("/e")});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());  // never reached its run
    EXPECT_TRUE(
        QString::fromUtf8(second.readAllStandardError())
            .contains(QStringLiteral("Corvane: ポリシテーブル設定ツールは既に起動されています。")));

    // And this process, in-process, also sees the running instance.
    EXPECT_FALSE(Start());
    ExpectOneFatalBox(600, QStringLiteral("ポリシテーブル設定ツールは既に起動されています。"));
    EXPECT_EQ(first.state(), QProcess::Running);

    first.closeWriteChannel();
    ASSERT_TRUE(first.waitForFinished(20000));
    const QStringList log = LogWithoutParse();
    // First: start and run; second process and this one: 300, 600, 301 each; then the first ends.
    const QString k600 = QStringLiteral("FATAL,ポリシテーブル設定ツールは既に起動されています。");
    EXPECT_EQ(log, (QStringList{LangTrace(QStringLiteral("Japanese")), k300, "DEBUG,helper=running",
                                LangTrace(QStringLiteral("Japanese")), k300, k600, k301,
                                LangTrace(QStringLiteral("Japanese")), k300, k600, k301, k301}));

    // The first has ended: the next start runs.
    m_boxes.shown.clear();
    m_events.clear();
    Start();
    EXPECT_TRUE(m_boxes.shown.isEmpty());
    EXPECT_EQ(m_events, (QStringList{"prepare", "run", "release"}));
}

TEST_F(Startup, InstanceThatCrashedLeavesNoLockBehind) {
    QProcess first;
    first.start(QStringLiteral(CORVANE_INSTANCE_HELPER), {Dir(), m_locks.path()});
    ASSERT_TRUE(WaitForLine(first, "running"));
    first.kill();
    ASSERT_TRUE(first.waitForFinished(20000));
    Start();
    EXPECT_TRUE(m_boxes.shown.isEmpty());
    EXPECT_EQ(m_events, (QStringList{"prepare", "run", "release"}));
}
