// The policy table file: reading (line ends, order, rejected lines, missing and unopenable
// files, bad bytes, huge inputs), writing (CP932, CR LF, atomic replacement, message 516) and
// write-then-read equality.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <sys/stat.h>

#include "platform/codepage.h"
#include "policy/policylistmanager.h"
#include "policytest.h"
#include "support/testsupport.h"

namespace {

const QString kMsg516 = QStringLiteral("OSへの設定は正常に完了しましたが、\n設定ファイルの書き込みに失敗しました。");

using policytest::Row;

void ExpectSameRow(const CPolicy& a, const CPolicy& b) {
    EXPECT_EQ(a.m_bDisabled, b.m_bDisabled);
    EXPECT_EQ(a.m_nSource, b.m_nSource);
    EXPECT_EQ(a.m_csNetworkName, b.m_csNetworkName);
    EXPECT_EQ(a.m_csLabel, b.m_csLabel);
    EXPECT_EQ(a.m_csPriority, b.m_csPriority);
    EXPECT_EQ(a.m_csAddress, b.m_csAddress);
}

bool HasLine(const QStringList& lines, const QString& tail) {
    for (const QString& line : lines)
        if (line.endsWith(tail)) return true;
    return false;
}

// Reads a file whose bytes are given, returning the result and the rows.
struct ReadResult {
    int result = -1;
    CPolicyList rows;
};

ReadResult ReadBytes(testsupport::CTestApp& t, const QByteArray& bytes) {
    const QString path = t.Dir() + QStringLiteral("input.conf");
    EXPECT_TRUE(testsupport::WriteFile(path, bytes));
    CPolicyListManager manager;
    ReadResult r;
    r.rows.append(CPolicy());  // the reader empties the list first
    r.result = manager.GetPolicyFile(r.rows, path);
    return r;
}

// Makes a folder read-only for the test's lifetime and restores it afterwards.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& path) : m_path(QFile::encodeName(path)) {
        ::chmod(m_path.constData(), 0555);
    }
    ~ReadOnlyFolder() { ::chmod(m_path.constData(), 0755); }

private:
    QByteArray m_path;
};

}  // namespace

// --- Reading ------------------------------------------------------------------------------

TEST(PolicyFileRead, AnEmptyFileGivesAnEmptyListAndOne) {
    testsupport::CTestApp t;
    const ReadResult r = ReadBytes(t, QByteArray());
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(r.rows.isEmpty());
    const QStringList log = t.LogLines();
    EXPECT_TRUE(HasLine(log, QStringLiteral("CPolicyListManagerクラスのGetPolicyFileの処理を開始します。")));
    EXPECT_TRUE(HasLine(log, QStringLiteral("CPolicyListManagerクラスのGetPolicyFileの処理を終了します。")));
}

TEST(PolicyFileRead, LinesEndInLineFeedOrCarriageReturnLineFeed) {
    testsupport::CTestApp t;
    const ReadResult r = ReadBytes(t, "1,0,a,1,2,::/0\r\n0,1,b,3,4,::1/128\n1,2,c,5,6,2002::/16");
    ASSERT_EQ(r.result, 1);
    ASSERT_EQ(r.rows.size(), 3);
    ExpectSameRow(r.rows[0], Row(true, 2, QStringLiteral("a"), QStringLiteral("1"), QStringLiteral("2"),
                                 QStringLiteral("::/0")));
    ExpectSameRow(r.rows[1], Row(false, 1, QStringLiteral("b"), QStringLiteral("3"), QStringLiteral("4"),
                                 QStringLiteral("::1/128")));
    ExpectSameRow(r.rows[2], Row(true, 0, QStringLiteral("c"), QStringLiteral("5"), QStringLiteral("6"),
                                 QStringLiteral("2002::/16")));
}

TEST(PolicyFileRead, OnlyOneCarriageReturnBeforeTheLineFeedIsALineEnd) {
    testsupport::CTestApp t;
    const ReadResult r = ReadBytes(t, "1,0,a,1,2,::/0\r\r\n1,0,b,1,2,::1/128\r");
    ASSERT_EQ(r.rows.size(), 2) << "a CR without LF is not a line end";
    EXPECT_EQ(r.rows[1].m_csAddress, QStringLiteral("::1/128"));
    EXPECT_EQ(ReadBytes(t, "1,0,a\rb,1,2,::/0\r\n").rows.size(), 0) << "a CR inside a field is text";
}

// A line is a row only when it is well formed and its fields pass the editor's rules; any
// other line is left out and numbered (empty lines are nothing), whatever it holds.
TEST(PolicyFileRead, RejectedLinesAreLeftOutAndNumbered) {
    testsupport::CTestApp t;
    const QString path = t.Dir() + QStringLiteral("input.conf");
    ASSERT_TRUE(testsupport::WriteFile(path,
                                       "1,0,first,1,2,::/0\r\n"
                                       "\r\n"
                                       "1,2,too,few,fields\r\n"
                                       "1,2,n,1,40,2001:db8::/32,extra\r\n"
                                       "1,2,old\\,1,40,2001:db8::/32\r\n"
                                       "1,2,n,1,40,p\r\n"
                                       "1,2,n,x,40,2001:db8::/32\r\n"
                                       "1,2,n,1,4 0,2001:db8::/32\r\n"
                                       "1,2,\x01,1,40,2001:db8::/32\r\n"
                                       "1,1,last,3,4,2001:db8::/48\r\n"
                                       "\n"));
    CPolicyListManager manager;
    CPolicyList rows;
    QList<qsizetype> rejected;
    ASSERT_EQ(manager.GetPolicyFile(rows, path, &rejected), 1);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].m_csNetworkName, QStringLiteral("first"));
    EXPECT_EQ(rows[1].m_csNetworkName, QStringLiteral("last"));
    EXPECT_EQ(rows[1].m_nSource, 1);
    EXPECT_EQ(rejected, QList<qsizetype>({3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(t.LogLines().filter(QStringLiteral(",WARN,nRejectedLine=")).size(), 7);
}

TEST(PolicyFileRead, AFinalLineEndAddsNoRow) {
    testsupport::CTestApp t;
    EXPECT_EQ(ReadBytes(t, "1,0,a,1,2,::/0\r\n").rows.size(), 1);
    EXPECT_EQ(ReadBytes(t, "1,0,a,1,2,::/0\n\n").rows.size(), 1);
    EXPECT_EQ(ReadBytes(t, "\n").rows.size(), 0);
}

TEST(PolicyFileRead, TheFileIsShiftJis) {
    testsupport::CTestApp t;
    // "ネット" in CP932 followed by an escaped comma.
    ReadResult r = ReadBytes(t, "1,2,\x83\x6c\x83\x62\x83\x67\\,x,1,40,::/0\r\n");
    ASSERT_EQ(r.rows.size(), 1);
    EXPECT_EQ(r.rows[0].m_csNetworkName, QStringLiteral("ネット,x"));
    // "ソ" ends in the byte of a backslash; it is a character of its own, not an escape.
    r = ReadBytes(t, "1,2,\x83\x5c,1,40,::/0");
    ASSERT_EQ(r.rows.size(), 1);
    EXPECT_EQ(r.rows[0].m_csNetworkName, QStringLiteral("ソ"));
    EXPECT_EQ(r.rows[0].m_csLabel, QStringLiteral("1"));
}

TEST(PolicyFileRead, AMissingFileGivesZeroAndAnEmptyList) {
    testsupport::CTestApp t;
    CPolicyListManager manager;
    CPolicyList rows = {CPolicy()};
    EXPECT_EQ(manager.GetPolicyFile(rows, t.Dir() + QStringLiteral("no/such.conf")), 0);
    EXPECT_TRUE(rows.isEmpty());
    const QStringList log = t.LogLines();
    EXPECT_TRUE(HasLine(log, QStringLiteral(",DEBUG,FindFile=FALSE")));
    EXPECT_FALSE(HasLine(log, QStringLiteral("GetPolicyFileの処理を終了します。")));
}

TEST(PolicyFileRead, AFolderIsFoundButCannotBeOpened) {
    testsupport::CTestApp t;
    CPolicyListManager manager;
    CPolicyList rows = {CPolicy()};
    ASSERT_TRUE(QDir().mkpath(t.Dir() + QStringLiteral("folder.conf")));
    EXPECT_EQ(manager.GetPolicyFile(rows, t.Dir() + QStringLiteral("folder.conf")), 0);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral(",DEBUG,Open=FALSE")));
}

TEST(PolicyFileRead, ADeviceIsNotRead) {
    testsupport::CTestApp t;
    CPolicyListManager manager;
    CPolicyList rows;
    // /dev/zero would never end; a named pipe would block. Neither is a policy table file.
    EXPECT_EQ(manager.GetPolicyFile(rows, QStringLiteral("/dev/zero")), 0);
    const QString fifo = t.Dir() + QStringLiteral("pipe.conf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(manager.GetPolicyFile(rows, fifo), 0);
    EXPECT_TRUE(rows.isEmpty());
}

TEST(PolicyFileRead, TheStandardFileLiesInConf) {
    testsupport::CTestApp t;
    ASSERT_TRUE(testsupport::WriteFile(t.Install().Conf(QStringLiteral("policytable.conf")),
                                       "1,2,mine,1,40,2001:db8::/32\r\n"));
    CPolicyListManager manager;
    CPolicyList rows;
    EXPECT_EQ(manager.GetStandardPolicyFile(rows), 1);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].m_csNetworkName, QStringLiteral("mine"));
    ASSERT_TRUE(QFile::remove(t.Install().Conf(QStringLiteral("policytable.conf"))));
    EXPECT_EQ(manager.GetStandardPolicyFile(rows), 0);
    EXPECT_TRUE(rows.isEmpty());
}

TEST(PolicyFileRead, TheShippedFactoryTableIsWellFormed) {
    testsupport::CTestApp t;
    CPolicyListManager manager;
    CPolicyList rows;
    ASSERT_EQ(manager.GetPolicyFile(rows, t.Install().Conf(QStringLiteral("policytable.conf.default"))), 1);
    ASSERT_FALSE(rows.isEmpty());
    for (const CPolicy& row : rows) {
        CPolicy check;
        EXPECT_EQ(check.SetAndValidNetworkName(row.m_csNetworkName), 1);
        EXPECT_EQ(check.SetAndValidLabel(row.m_csLabel), 1);
        EXPECT_EQ(check.SetAndValidPriority(row.m_csPriority), 1);
        EXPECT_EQ(check.SetAndValidAddress(row.m_csAddress), 1) << row.m_csAddress.toStdString();
    }
}

// --- Bad input ----------------------------------------------------------------------------

TEST(PolicyFileBadInput, BinaryBytesAreLeftOutLineByLine) {
    testsupport::CTestApp t;
    QByteArray bytes(64 * 1024, '\0');
    QRandomGenerator random(1234);
    for (char& b : bytes) b = char(random.bounded(256));
    const QString path = t.Dir() + QStringLiteral("input.conf");
    ASSERT_TRUE(testsupport::WriteFile(path, bytes));
    CPolicyListManager manager;
    CPolicyList rows;
    QList<qsizetype> rejected;
    EXPECT_EQ(manager.GetPolicyFile(rows, path, &rejected), 1);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_GT(rejected.size(), bytes.count('\n') / 2);
}

// Invalid CP932 and NUL bytes decode to substitutes and control characters: the line is no row.
TEST(PolicyFileBadInput, InvalidShiftJisAndNulBytesRejectTheLine) {
    testsupport::CTestApp t;
    EXPECT_TRUE(ReadBytes(t, QByteArray("1,2,a\0b,1,40,::/0", 18)).rows.isEmpty());
    EXPECT_TRUE(ReadBytes(t, QByteArray("1,2,a,\x81\x20,\xFF,\x81", 11)).rows.isEmpty());
}

TEST(PolicyFileBadInput, ATenMegabyteLineIsOneRow) {
    testsupport::CTestApp t;
    // A name of ten million characters, a third of them escaped commas.
    QByteArray name;
    name.reserve(10'000'002);
    while (name.size() < 10'000'000) name += "ab\\,";
    const ReadResult r = ReadBytes(t, "1,2," + name + ",1,40,::/0\r\n");
    ASSERT_EQ(r.rows.size(), 1);
    EXPECT_EQ(r.rows[0].m_csNetworkName.size(), name.size() / 4 * 3);
    EXPECT_TRUE(r.rows[0].m_csNetworkName.startsWith(QStringLiteral("ab,ab,")));
    // One line of ten million escaped commas and nothing else: a single field.
    EXPECT_TRUE(ReadBytes(t, QByteArray(5'000'000 * 2, '\\').replace("\\\\", "\\,")).rows.isEmpty());
}

TEST(PolicyFileBadInput, AMillionShortLinesAreReadInOnePass) {
    testsupport::CTestApp t;
    t.Log().SetLogLevel(QStringLiteral("ERROR"));  // millions of trace lines would only slow the test
    QByteArray bytes;
    bytes.reserve(1'000'000 * 10);
    for (int i = 0; i < 500'000; ++i) bytes += "1,2,,0,0,::/0\n,\n";
    const ReadResult r = ReadBytes(t, bytes);
    ASSERT_EQ(r.rows.size(), 500'000);
    EXPECT_FALSE(r.rows[0].m_bDisabled);
    EXPECT_FALSE(r.rows[499'999].m_bDisabled);
}

// --- Writing ------------------------------------------------------------------------------

TEST(PolicyFileWrite, WritesEveryRowAsShiftJisWithCarriageReturnLineFeed) {
    testsupport::CTestApp t;
    const CPolicyList rows = {
        Row(true, 0, QStringLiteral("ネット,A"), QStringLiteral("1"), QStringLiteral("40"), QStringLiteral("::/0")),
        Row(false, 2, QStringLiteral("€"), QStringLiteral("2"), QStringLiteral("30"), QStringLiteral("::1/128")),
    };
    const QString path = t.Dir() + QStringLiteral("out.conf");
    CPolicyListManager manager;
    ASSERT_EQ(manager.WritePolicyFile(rows, path), 1);
    // "€" has no CP932 form and is written as "?".
    EXPECT_EQ(testsupport::ReadFile(path),
              QByteArray("1,2,\x83\x6c\x83\x62\x83\x67\\,A,1,40,::/0\r\n0,0,?,2,30,::1/128\r\n"));
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral("CPolicyListManagerクラスのWritePolicyFileの処理を終了します。")));
}

TEST(PolicyFileWrite, AnEmptyListWritesAnEmptyFile) {
    testsupport::CTestApp t;
    const QString path = t.Dir() + QStringLiteral("out.conf");
    ASSERT_TRUE(testsupport::WriteFile(path, "old content\r\n"));
    CPolicyListManager manager;
    ASSERT_EQ(manager.WritePolicyFile(CPolicyList(), path), 1);
    EXPECT_TRUE(testsupport::ReadFile(path).isEmpty());
    CPolicyList rows;
    EXPECT_EQ(manager.GetPolicyFile(rows, path), 1);
    EXPECT_TRUE(rows.isEmpty());
}

TEST(PolicyFileWrite, WriteThenReadGivesTheSameRowsInTheSameOrder) {
    testsupport::CTestApp t;
    CPolicyList rows;
    const QStringList names = {QStringLiteral("Loopback"), QStringLiteral("A,B"), QStringLiteral("C:\\net\\"),
                               QStringLiteral("ネットワーク"), QString(), QStringLiteral("pipe|"),
                               QStringLiteral("x&canma"), QStringLiteral(" blanks ")};
    for (int i = 0; i < 48; ++i) {
        rows.append(Row(i % 3 == 0, i % 4, names[i % names.size()], QString::number(i),
                        QString::number(100 - i), QStringLiteral("2001:db8:%1::/48").arg(i)));
    }
    rows.append(Row(true, 1, QStringLiteral("label\\"), QStringLiteral("7"), QStringLiteral("0"), QStringLiteral("::/0")));
    const QString path = t.Dir() + QStringLiteral("conf/policytable.conf");
    CPolicyListManager manager;
    ASSERT_EQ(manager.WritePolicyFile(rows, path), 1);
    CPolicyList back;
    ASSERT_EQ(manager.GetStandardPolicyFile(back), 1);
    ASSERT_EQ(back.size(), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        CPolicy expected = rows[i];
        if (expected.m_nSource == 3) expected.m_nSource = 0;  // an unknown origin is stored as 0
        ExpectSameRow(back[i], expected);
    }
}

TEST(PolicyFileWrite, AFailedWriteKeepsThePreviousFileAndShows516) {
    testsupport::CTestApp t;
    const QString folder = t.Dir() + QStringLiteral("locked/");
    const QString path = folder + QStringLiteral("policytable.conf");
    const QByteArray previous("1,2,previous,1,40,2001:db8::/32\r\n0,0,\x83\x6c,2,3,::/0\r\n");
    ASSERT_TRUE(testsupport::WriteFile(path, previous));
    {
        ReadOnlyFolder locked(folder);
        CPolicyListManager manager;
        const CPolicyList rows = {Row(true, 0, QStringLiteral("new"), QStringLiteral("1"), QStringLiteral("2"),
                                      QStringLiteral("::/0"))};
        EXPECT_EQ(manager.WritePolicyFile(rows, path), 0);
    }
    EXPECT_EQ(testsupport::ReadFile(path), previous);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({"policytable.conf"}))
        << "no temporary file is left behind";
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, kMsg516);
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_ERROR);
    const QStringList log = t.LogLines();
    ASSERT_GE(log.size(), 2);
    EXPECT_TRUE(log[log.size() - 2].endsWith(QStringLiteral(",ERROR,OSへの設定は正常に完了しましたが、\\n設定ファイルの書き込みに失敗しました。")));
    EXPECT_TRUE(log.last().endsWith(QStringLiteral(",DEBUG,Open=FALSE")));
}

TEST(PolicyFileWrite, AnUnwritablePathShows516) {
    testsupport::CTestApp t;
    CPolicyListManager manager;
    ASSERT_TRUE(QDir().mkpath(t.Dir() + QStringLiteral("adir")));
    EXPECT_EQ(manager.WritePolicyFile(CPolicyList(), t.Dir() + QStringLiteral("adir")), 0);
    EXPECT_EQ(manager.WritePolicyFile(CPolicyList(), t.Dir() + QStringLiteral("missing/x.conf")), 0);
    ASSERT_EQ(t.Boxes().shown.size(), 2);
    EXPECT_EQ(t.Boxes().shown[1].text, kMsg516);
}

TEST(PolicyFileWrite, AReadOnlyFileIsNotReplaced) {
    testsupport::CTestApp t;
    const QString path = t.Dir() + QStringLiteral("ro.conf");
    ASSERT_TRUE(testsupport::WriteFile(path, "keep\r\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    CPolicyListManager manager;
    EXPECT_EQ(manager.WritePolicyFile(CPolicyList(), path), 0);
    EXPECT_EQ(testsupport::ReadFile(path), QByteArray("keep\r\n"));
    EXPECT_EQ(t.Boxes().shown.size(), 1);
}
