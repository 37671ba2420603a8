// The log and message-box object: line format, levels and threshold, escaping, code page, the
// read-only log, the log followed through a rotation or a removal and shared by two processes,
// formatting with inserts, and message boxes logged after they are answered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "logtestutil.h"
#include "support/testsupport.h"

using testsupport::CTestApp;
using testsupport::ReadFile;

namespace {

class AppLog : public ::testing::Test {
protected:
    CAppLog& Log() { return m_t.Log(); }
    QString LogPath() const { return m_t.Dir() + QStringLiteral("zarntool.log"); }
    QList<CLogLine> Lines() const { return ReadLog(LogPath()); }
    QStringList Texts() const { return WordsAndTexts(Lines()); }
    CTestApp m_t;
};

// A presenter that records what the log held at the moment each box was shown.
class CSnapshotPresenter : public IMessagePresenter {
public:
    explicit CSnapshotPresenter(QString logPath) : m_logPath(std::move(logPath)) {}
    int Present(const CMessageBoxRequest& request) override {
        requests.append(request);
        logAtShow.append(ReadLog(m_logPath).size());
        return answer;
    }
    QList<CMessageBoxRequest> requests;
    QList<qsizetype> logAtShow;
    int answer = IDYES;

private:
    QString m_logPath;
};

}  // namespace

TEST_F(AppLog, WritesStampWordAndTextWithCrLf) {
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_EQ(Log().AppendLog(LOG_INFO, QStringLiteral("hello")), 1);
    const QDateTime after = QDateTime::currentDateTime();
    const QByteArray bytes = ReadFile(LogPath());
    ASSERT_TRUE(bytes.endsWith(",INFO,hello\r\n"));
    EXPECT_EQ(bytes.count('\n'), 1);
    const QList<CLogLine> lines = Lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d{8}-\\d{6}$")).match(lines[0].stamp).hasMatch());
    const QDateTime stamp =
        QDateTime::fromString(lines[0].stamp, QStringLiteral("yyyyMMdd-HHmmss"));
    EXPECT_GE(stamp.toSecsSinceEpoch(), before.toSecsSinceEpoch());
    EXPECT_LE(stamp.toSecsSinceEpoch(), after.toSecsSinceEpoch());
}

TEST_F(AppLog, EachLevelHasItsWord) {
    for (int level = LOG_DEBUG; level <= LOG_FATAL; ++level)
        ASSERT_EQ(Log().AppendLog(level, QStringLiteral("L%1").arg(level)), 1);
    EXPECT_EQ(Texts(),
              (QStringList{"DEBUG,L0", "DEBUG,L1", "INFO,L2", "WARN,L3", "ERROR,L4", "FATAL,L5"}));
}

TEST_F(AppLog, InfoThresholdInAnyCaseFiltersDebugAndQuestionLines) {
    for (const QString& word :
         {QStringLiteral("info"), QStringLiteral("Info"), QStringLiteral("INFO")}) {
        Log().m_nLogLevel = LOG_DEBUG;
        Log().SetLogLevel(word);
        EXPECT_EQ(Log().m_nLogLevel, LOG_INFO) << qPrintable(word);
    }
    EXPECT_EQ(Log().AppendLog(LOG_DEBUG, QStringLiteral("trace")), 1);  // filtered, still 1
    EXPECT_EQ(Log().AppendLog(LOG_CONFIRM, QStringLiteral("question")), 1);
    EXPECT_EQ(Log().TraceValue(QStringLiteral("x"), QStringLiteral("1")), 1);
    for (int level = LOG_INFO; level <= LOG_FATAL; ++level)
        EXPECT_EQ(Log().AppendLog(level, QStringLiteral("L%1").arg(level)), 1);
    EXPECT_EQ(Texts(), (QStringList{"INFO,L2", "WARN,L3", "ERROR,L4", "FATAL,L5"}));
}

TEST_F(AppLog, LevelWordsSetTheThresholdAndOtherWordsLeaveIt) {
    const struct {
        const char* word;
        int level;
    } cases[] = {{"DEBUG", 0}, {"warn", 3}, {"Error", 4}, {"FATAL", 5}, {"info", 2}};
    for (const auto& c : cases) {
        Log().SetLogLevel(QString::fromLatin1(c.word));
        EXPECT_EQ(Log().m_nLogLevel, c.level) << c.word;
    }
    for (const char* other : {"", "CONFIRM", "INFO ", "verbose", "2"}) {
        Log().SetLogLevel(QString::fromLatin1(other));
        EXPECT_EQ(Log().m_nLogLevel, LOG_INFO) << '"' << other << '"';
    }
    CAppLog fresh;
    fresh.SetLogLevel(QStringLiteral("nonsense"));
    EXPECT_EQ(fresh.m_nLogLevel, LOG_DEBUG);
}

TEST_F(AppLog, WarnThresholdWritesOnlyWarnAndAbove) {
    Log().SetLogLevel(QStringLiteral("warn"));
    for (int level = LOG_DEBUG; level <= LOG_FATAL; ++level)
        EXPECT_EQ(Log().AppendLog(level, QStringLiteral("L%1").arg(level)), 1);
    EXPECT_EQ(Texts(), (QStringList{"WARN,L3", "ERROR,L4", "FATAL,L5"}));
}

TEST_F(AppLog, InvalidLevelWritesNothingAndReturnsZero) {
    EXPECT_EQ(Log().AppendLog(6, QStringLiteral("six")), 0);
    EXPECT_EQ(Log().AppendLog(100, QStringLiteral("hundred")), 0);
    Log().SetLogLevel(QStringLiteral("FATAL"));
    EXPECT_EQ(Log().AppendLog(6, QStringLiteral("six")), 0);  // invalid even above the threshold
    EXPECT_EQ(Log().AppendLog(LOG_ERROR, QStringLiteral("below")), 1);
    EXPECT_FALSE(QFile::exists(LogPath()));
}

TEST_F(AppLog, LevelBelowTheThresholdIsComparedSigned) {
    EXPECT_EQ(Log().AppendLog(-1, QStringLiteral("negative")), 1);
    EXPECT_FALSE(QFile::exists(LogPath()));
}

TEST_F(AppLog, EscapesCommasAndLineFeedsOnly) {
    ASSERT_EQ(Log().AppendLog(LOG_INFO, QStringLiteral("a,b\nc")), 1);
    ASSERT_EQ(Log().AppendLog(LOG_INFO, QStringLiteral("back\\slash\rcr,\n")), 1);
    const QByteArray bytes = ReadFile(LogPath());
    EXPECT_TRUE(bytes.contains(",INFO,a\\,b\\nc\r\n"));
    EXPECT_TRUE(bytes.contains(",INFO,back\\slash\rcr\\,\\n\r\n"));
    const QList<CLogLine> lines = Lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].text, QStringLiteral("a\\,b\\nc"));
}

TEST_F(AppLog, WritesCp932AndQuestionMarksForCharactersWithoutAForm) {
    ASSERT_EQ(Log().AppendLog(LOG_INFO, QStringLiteral("ソフト表示€")), 1);
    const QByteArray bytes = ReadFile(LogPath());
    EXPECT_TRUE(bytes.endsWith(",INFO," + platform::ToCp932(u"ソフト表示") + "?\r\n"));
    EXPECT_TRUE(bytes.contains("\x83\x5c"));  // ソ in CP932, trail byte untouched
}

TEST_F(AppLog, ReadOnlyLogMakesEveryLineFailWithoutABox) {
    ASSERT_EQ(Log().AppendLog(LOG_INFO, QStringLiteral("before")), 1);
    const QByteArray before = ReadFile(LogPath());
    ASSERT_EQ(::chmod(QFile::encodeName(LogPath()).constData(), 0444), 0);  // refused even for root
    EXPECT_EQ(Log().AppendLog(LOG_FATAL, QStringLiteral("x")), 0);
    EXPECT_EQ(Log().LogString(300), 0);
    EXPECT_EQ(Log().TraceStart(QStringLiteral("C"), QStringLiteral("M")), 0);
    EXPECT_EQ(Log().ShowMessage(QStringLiteral("shown"), LOG_ERROR), IDOK);
    EXPECT_EQ(m_t.Boxes().shown.size(), 1);  // only the box asked for; no box about the log
    EXPECT_EQ(ReadFile(LogPath()), before);
}

TEST_F(AppLog, LogInAReadOnlyFolderOrWithoutAPathFailsSilently) {
    ASSERT_EQ(::chmod(QFile::encodeName(m_t.Dir()).constData(), 0555), 0);
    EXPECT_EQ(Log().AppendLog(LOG_INFO, QStringLiteral("x")), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(m_t.Dir()).constData(), 0700), 0);
    EXPECT_FALSE(QFile::exists(LogPath()));
    CAppLog noPath;
    EXPECT_EQ(noPath.AppendLog(LOG_FATAL, QStringLiteral("x")), 0);
    EXPECT_TRUE(m_t.Boxes().shown.isEmpty());
}

TEST_F(AppLog, LinesOfTheSameSecondKeepTheOrderOfTheCalls) {
    // Retry until both lines fall into one second (a second boundary may pass in between).
    for (int attempt = 0; attempt < 5; ++attempt) {
        QFile::remove(LogPath());
        const qint64 s0 = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < 20; ++i) Log().AppendLog(LOG_INFO, QStringLiteral("line %1").arg(i));
        if (QDateTime::currentSecsSinceEpoch() != s0) continue;
        const QList<CLogLine> lines = Lines();
        ASSERT_EQ(lines.size(), 20);
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(lines[i].stamp, lines[0].stamp);
            EXPECT_EQ(lines[i].text, QStringLiteral("line %1").arg(i));
        }
        return;
    }
    FAIL() << "could not write 20 lines within one second";
}

TEST_F(AppLog, EachLineGoesToTheFileThePathNamesWhenItIsWritten) {
    // The log is kept open between lines; what an administrator does to it between two lines
    // decides where the next one goes. `moved` is where the first line must be afterwards.
    const QString path = LogPath();
    const QString old = path + QStringLiteral(".1");
    const struct {
        const char* name;
        std::function<bool()> act;
        QStringList atPath;  // the whole file at the path after the second line
        QStringList moved;   // the whole renamed file, if any
    } kCases[] = {
        {"rotated by a rename", [&] { return QFile::rename(path, old); }, {"INFO,second"},
         {"INFO,first"}},
        {"removed", [&] { return QFile::remove(path); }, {"INFO,second"}, {}},
        {"replaced by a rename over it",
         [&] {
             return testsupport::WriteFile(old, "20260101-000000,INFO,kept\r\n") &&
                    ::rename(QFile::encodeName(old).constData(), QFile::encodeName(path).constData()) == 0;
         },
         {"INFO,kept", "INFO,second"}, {}},
        {"emptied in place", [&] { return QFile::resize(path, 0); }, {"INFO,second"}, {}},
        {"made read-only and writable again",
         [&] { return ::chmod(QFile::encodeName(path).constData(), 0444) == 0 &&
                      Log().AppendLog(LOG_INFO, QStringLiteral("refused")) == 0 &&
                      ::chmod(QFile::encodeName(path).constData(), 0644) == 0; },
         {"INFO,first", "INFO,second"}, {}},
    };
    for (const auto& c : kCases) {
        QFile::remove(path);
        QFile::remove(old);
        ASSERT_EQ(Log().AppendLog(LOG_INFO, QStringLiteral("first")), 1) << c.name;
        ASSERT_TRUE(c.act()) << c.name;
        ASSERT_EQ(Log().AppendLog(LOG_INFO, QStringLiteral("second")), 1) << c.name;
        EXPECT_EQ(Texts(), c.atPath) << c.name;
        EXPECT_EQ(WordsAndTexts(ReadLog(old)), c.moved) << c.name;
    }
    // The descriptor kept open is not inherited by the commands the program runs.
    const QString target = QFileInfo(path).canonicalFilePath();
    int held = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() != target) continue;
        ++held;
        const QByteArray info = ReadFile(QStringLiteral("/proc/self/fdinfo/") + fd.fileName());
        const QByteArray flags = info.mid(info.indexOf("flags:") + 6).trimmed().split('\n')[0];
        EXPECT_NE(flags.toUInt(nullptr, 8) & O_CLOEXEC, 0u) << flags.constData();
    }
    EXPECT_EQ(held, 1);
}

TEST_F(AppLog, LinesOfTwoProcessesMixOnlyAsWholeLinesAcrossARotation) {
    // This process and a child write lines of many lengths into one log at the same time; this
    // one renames the log away half-way. Every line of both must then be in one of the two
    // files, whole, once, in the order each process wrote them.
    constexpr int kLines = 1500;
    const QString path = LogPath();
    const QString old = path + QStringLiteral(".1");
    const auto text = [](char who, int i) {
        return QStringLiteral("%1 %2 ").arg(QLatin1Char(who)).arg(i) + QString((i * 37) % 3000, u'x');
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CAppLog log;
        log.m_sLogPath = path;
        int failed = 0;
        for (int i = 0; i < kLines; ++i) failed += log.AppendLog(LOG_INFO, text('c', i)) != 1;
        ::_exit(failed == 0 ? 0 : 1);
    }
    int failed = 0;
    for (int i = 0; i < kLines; ++i) {
        if (i == kLines / 2) {
            EXPECT_TRUE(QFile::rename(path, old));
        }
        failed += Log().AppendLog(LOG_INFO, text('p', i)) != 1;
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(failed, 0);
    QHash<QChar, int> next;  // per process, the next line expected
    for (const QString& file : {old, path}) {
        for (const CLogLine& line : ReadLog(file)) {
            ASSERT_EQ(line.word, QStringLiteral("INFO"));
            ASSERT_FALSE(line.text.isEmpty());
            const QChar who = line.text[0];
            ASSERT_EQ(line.text, text(who.toLatin1(), next[who])) << qPrintable(file);
            ++next[who];
        }
    }
    EXPECT_EQ(next.value(u'p'), kLines);
    EXPECT_EQ(next.value(u'c'), kLines);
    // This process wrote its second half after the rename: all of it is in the new file.
    const QList<CLogLine> after = ReadLog(path);
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const CLogLine& l) { return l.text[0] == u'p'; }),
              kLines - kLines / 2);
}

TEST_F(AppLog, LogStringTakesTheTextFromTheActiveSetAtDebug) {
    ASSERT_EQ(Log().LogString(300), 1);
    ASSERT_EQ(Log().LogString(301), 1);
    ASSERT_EQ(Log().LogString(99999), 1);  // a missing id gives an empty text
    EXPECT_EQ(Texts(), (QStringList{"DEBUG,Corvaneを起動しました。",
                                    "DEBUG,Corvaneを終了しました。", "DEBUG,"}));
}

TEST_F(AppLog, TraceLinesUseStrings304To306) {
    Log().TraceStart(QStringLiteral("CPolicyListManager"), QStringLiteral("GetDhcp"));
    Log().TraceValue(QStringLiteral("m_bNetworkUse"), QStringLiteral("FALSE"));
    Log().TraceEnd(QStringLiteral("CPolicyListManager"), QStringLiteral("GetDhcp"));
    Log().TraceValue(QStringLiteral("csResult"), QStringLiteral("a,b\nc"));
    EXPECT_EQ(Texts(), (QStringList{"DEBUG,CPolicyListManagerクラスのGetDhcpの処理を開始します。",
                                    "DEBUG,m_bNetworkUse=FALSE",
                                    "DEBUG,CPolicyListManagerクラスのGetDhcpの処理を終了します。",
                                    "DEBUG,csResult=a\\,b\\nc"}));
}

TEST_F(AppLog, LogFormatInsertsOneToFourAndOtherwiseNone) {
    Log().LogFormat({QStringLiteral("netsh")}, 501, LOG_ERROR);
    Log().LogFormat({}, 306, LOG_INFO);
    Log().LogFormat({"1", "2", "3", "4", "5"}, 306, LOG_INFO);
    Log().LogFormat({"%2", "x"}, 306, LOG_WARN);  // an insert is never expanded again
    Log().LogFormat({QStringLiteral("アドレス空間")}, 505, LOG_FATAL);
    EXPECT_EQ(
        Texts(),
        (QStringList{"ERROR,netshコマンドの発行に失敗しました。", "INFO,%1=%2", "INFO,%1=%2",
                     "WARN,%2=x", "FATAL,アドレス空間は必須です。アドレス空間を入力して下さい。"}));
}

TEST(AppLogFormat, FollowsTheMessageInsertRules) {
    EXPECT_EQ(CAppLog::FormatMessage(QStringLiteral("%1-%2-%3-%4"), {"a", "b", "c", "d"}),
              QStringLiteral("a-b-c-d"));
    EXPECT_EQ(CAppLog::FormatMessage(QStringLiteral("%1%%"), {"a"}), QStringLiteral("a%"));
    EXPECT_EQ(CAppLog::FormatMessage(QStringLiteral("%1 %3"), {"a"}), QStringLiteral("a %3"));
    EXPECT_EQ(CAppLog::FormatMessage(QStringLiteral("%1"), {}), QStringLiteral("%1"));
    EXPECT_EQ(CAppLog::FormatMessage(QStringLiteral("100%"), {"a"}), QStringLiteral("100%"));
}

TEST_F(AppLog, MessageBoxIsShownFirstAndLoggedAtItsKindAfterTheAnswer) {
    CSnapshotPresenter boxes(LogPath());
    Log().SetPresenter(&boxes);
    QObject owner;
    Log().m_hOwnerWnd = &owner;
    boxes.answer = IDNO;
    EXPECT_EQ(Log().ShowMessageId(400, LOG_CONFIRM), IDNO);
    boxes.answer = IDOK;
    for (int kind = LOG_DEBUG; kind <= LOG_FATAL; ++kind) {
        if (kind == LOG_CONFIRM) continue;
        EXPECT_EQ(Log().ShowMessage(QStringLiteral("kind %1").arg(kind), kind), IDOK);
    }
    ASSERT_EQ(boxes.requests.size(), 6);
    for (qsizetype i = 0; i < boxes.requests.size(); ++i) {
        EXPECT_EQ(boxes.logAtShow[i], i) << "box " << i << " was logged before it was answered";
        EXPECT_EQ(boxes.requests[i].caption, QStringLiteral("Corvane"));
        EXPECT_EQ(boxes.requests[i].yesText, QStringLiteral("はい(&Y)"));
        EXPECT_EQ(boxes.requests[i].noText, QStringLiteral("いいえ(&N)"));
        EXPECT_EQ(boxes.requests[i].cancelText, QStringLiteral("キャンセル(&C)"));
        EXPECT_EQ(boxes.requests[i].owner, &owner);
    }
    EXPECT_EQ(boxes.requests[0].kind, LOG_CONFIRM);
    EXPECT_EQ(boxes.requests[0].text,
              QStringLiteral("ポリシテーブル設定ツールを終了してもよろしいですか？"));
    EXPECT_EQ(Texts(), (QStringList{"DEBUG,ポリシテーブル設定ツールを終了してもよろしいですか？",
                                    "DEBUG,kind 0", "INFO,kind 2", "WARN,kind 3", "ERROR,kind 4",
                                    "FATAL,kind 5"}));
}

TEST_F(AppLog, InfoThresholdShowsQuestionBoxesWithoutLoggingThem) {
    Log().SetLogLevel(QStringLiteral("INFO"));
    EXPECT_EQ(Log().ShowMessageId(401, LOG_CONFIRM), IDYES);
    Log().ShowMessageId(404, LOG_INFO);
    Log().ShowMessageFormat({QStringLiteral("netsh interface ipv6 show prefixpolicies")}, 517,
                            LOG_ERROR);
    ASSERT_EQ(m_t.Boxes().shown.size(), 3);
    EXPECT_EQ(m_t.Boxes().shown[2].text,
              QStringLiteral("netsh interface ipv6 show "
                             "prefixpoliciesコマンドの発行に失敗しました。\nご利用頂いているOSを"
                             "ご確認のうえ、再度ダウンロードから実施して下さい。"));
    EXPECT_EQ(Texts(),
              (QStringList{
                  "INFO,OSへの設定が完了しました。",
                  "ERROR,netsh interface ipv6 show prefixpoliciesコマンドの発行に失敗しました。\\n"
                  "ご利用頂いているOSをご確認のうえ、再度ダウンロードから実施して下さい。"}));
}

TEST_F(AppLog, WithoutAPresenterBoxesTakeTheirDefaultButtonAndAreStillLogged) {
    Log().SetPresenter(nullptr);
    EXPECT_EQ(Log().ShowMessage(QStringLiteral("q"), LOG_CONFIRM), IDNO);
    EXPECT_EQ(Log().ShowMessage(QStringLiteral("e"), LOG_FATAL), IDOK);
    EXPECT_EQ(Texts(), (QStringList{"DEBUG,q", "FATAL,e"}));
}

TEST_F(AppLog, UnknownKindIsShownAndNotLogged) {
    EXPECT_EQ(Log().ShowMessage(QStringLiteral("odd"), 9), IDOK);
    ASSERT_EQ(m_t.Boxes().shown.size(), 1);
    EXPECT_EQ(m_t.Boxes().shown[0].kind, 9);
    EXPECT_FALSE(QFile::exists(LogPath()));
}
