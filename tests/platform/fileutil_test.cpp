// Atomic replacement, appending and the read-only rules shared by every writer.
#include "platform/fileutil.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/testsupport.h"

using namespace platform;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

void SetMode(const QString& path, mode_t mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

class FileUtil : public ::testing::Test {
protected:
    void TearDown() override { SetMode(m_dir.path(), 0700); }
    QString Path(const char* name) const { return m_dir.path() + u'/' + QString::fromLatin1(name); }
    QStringList Entries() const {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(FileUtil, TellsFilesFromFolders) {
    ASSERT_TRUE(WriteFile(Path("f"), "x"));
    EXPECT_TRUE(FileExists(Path("f")));
    EXPECT_FALSE(FileExists(m_dir.path()));
    EXPECT_FALSE(FileExists(Path("missing")));
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_TRUE(DirectoryExists(m_dir.path()));
    EXPECT_FALSE(DirectoryExists(Path("f")));
    EXPECT_FALSE(DirectoryExists(QString()));
}

TEST_F(FileUtil, AtomicWriteCreatesAndReplacesWithoutLeftovers) {
    ASSERT_TRUE(WriteFileAtomic(Path("t.conf"), "first\r\n"));
    EXPECT_EQ(ReadFile(Path("t.conf")), QByteArray("first\r\n"));
    ASSERT_TRUE(WriteFileAtomic(Path("t.conf"), "second"));
    EXPECT_EQ(ReadFile(Path("t.conf")), QByteArray("second"));
    ASSERT_TRUE(WriteFileAtomic(Path("t.conf"), QByteArray()));
    EXPECT_EQ(ReadFile(Path("t.conf")), QByteArray());
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("t.conf")});
}

TEST_F(FileUtil, AtomicWriteReplacesTheFileInsteadOfRewritingIt) {
    // A reader that opened the old file keeps reading the old content: the new content arrives
    // under the name in one step.
    ASSERT_TRUE(WriteFile(Path("t.conf"), "old content"));
    QFile reader(Path("t.conf"));
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    ASSERT_TRUE(WriteFileAtomic(Path("t.conf"), "new"));
    EXPECT_EQ(reader.readAll(), QByteArray("old content"));
    EXPECT_EQ(ReadFile(Path("t.conf")), QByteArray("new"));
}

TEST_F(FileUtil, AtomicWriteKeepsTheFilesPermissions) {
    ASSERT_TRUE(WriteFile(Path("t.conf"), "x"));
    SetMode(Path("t.conf"), 0640);
    ASSERT_TRUE(WriteFileAtomic(Path("t.conf"), "y"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(Path("t.conf")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(FileUtil, ReadOnlyFileRefusesEvenForRootAndKeepsItsContent) {
    ASSERT_TRUE(WriteFile(Path("t.conf"), "keep"));
    SetMode(Path("t.conf"), 0444);
    EXPECT_FALSE(IsWritableTarget(Path("t.conf")));
    EXPECT_FALSE(WriteFileAtomic(Path("t.conf"), "lost"));
    EXPECT_EQ(ReadFile(Path("t.conf")), QByteArray("keep"));
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("t.conf")});
}

TEST_F(FileUtil, ReadOnlyFolderRefusesEvenForRootAndKeepsTheFile) {
    ASSERT_TRUE(WriteFile(Path("t.conf"), "keep"));
    SetMode(m_dir.path(), 0555);
    EXPECT_FALSE(IsWritableTarget(Path("t.conf")));
    EXPECT_FALSE(IsWritableTarget(Path("new.conf")));
    EXPECT_FALSE(WriteFileAtomic(Path("t.conf"), "lost"));
    EXPECT_FALSE(WriteFileAtomic(Path("new.conf"), "lost"));
    SetMode(m_dir.path(), 0700);
    EXPECT_EQ(ReadFile(Path("t.conf")), QByteArray("keep"));
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("t.conf")});
}

TEST_F(FileUtil, AtomicWriteRefusesFoldersAndMissingFolders) {
    EXPECT_FALSE(WriteFileAtomic(m_dir.path(), "x"));
    EXPECT_FALSE(WriteFileAtomic(Path("no/such/file"), "x"));
    EXPECT_FALSE(WriteFileAtomic(QString(), "x"));
}

TEST_F(FileUtil, AppendCreatesTheFileAndAddsToItsEnd) {
    ASSERT_TRUE(AppendToFile(Path("zarntool.log"), "one\r\n"));
    ASSERT_TRUE(AppendToFile(Path("zarntool.log"), "two\r\n"));
    EXPECT_EQ(ReadFile(Path("zarntool.log")), QByteArray("one\r\ntwo\r\n"));
}

TEST_F(FileUtil, AppendRefusesAReadOnlyFileEvenForRoot) {
    ASSERT_TRUE(WriteFile(Path("zarntool.log"), "old\r\n"));
    SetMode(Path("zarntool.log"), 0444);
    EXPECT_FALSE(AppendToFile(Path("zarntool.log"), "new\r\n"));
    EXPECT_EQ(ReadFile(Path("zarntool.log")), QByteArray("old\r\n"));
}

TEST_F(FileUtil, AppendIntoAReadOnlyFolderWorksOnlyForAnExistingFile) {
    ASSERT_TRUE(WriteFile(Path("zarntool.log"), "old\r\n"));
    SetMode(m_dir.path(), 0555);
    EXPECT_TRUE(AppendToFile(Path("zarntool.log"), "new\r\n"));
    EXPECT_FALSE(AppendToFile(Path("other.log"), "x"));
    SetMode(m_dir.path(), 0700);
    EXPECT_EQ(ReadFile(Path("zarntool.log")), QByteArray("old\r\nnew\r\n"));
    EXPECT_FALSE(FileExists(Path("other.log")));
}

TEST_F(FileUtil, AppendRefusesFoldersEmptyPathsAndMissingFolders) {
    EXPECT_FALSE(AppendToFile(m_dir.path(), "x"));
    EXPECT_FALSE(AppendToFile(QString(), "x"));
    EXPECT_FALSE(AppendToFile(Path("no/such.log"), "x"));
}

TEST_F(FileUtil, OnlyRegularFilesAreOpenedAndNothingElseBlocksOrChanges) {
    // Readers, appenders and replacers meet a FIFO nobody writes, a device, a folder, a link to
    // each of them and a link to a regular file. Only the regular file (or a link to it) is used;
    // everything else is refused at once and stays as it was.
    ASSERT_TRUE(WriteFile(Path("regular"), "old\r\n"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkdir(Path("folder")));
    for (const char* target : {"regular", "fifo", "folder"}) {
        ASSERT_TRUE(QFile::link(Path(target), Path(target) + QStringLiteral("-link")));
    }
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), Path("device-link")));
    const struct {
        const char* name;
        bool regular;
    } kCases[] = {{"regular", true},      {"regular-link", true}, {"fifo", false},
                  {"fifo-link", false},   {"folder", false},      {"folder-link", false},
                  {"device-link", false}};
    for (const auto& c : kCases) {
        const QString path = Path(c.name);
        QByteArray data = "stale";
        EXPECT_EQ(ReadWholeFile(path, &data), c.regular) << c.name;
        EXPECT_EQ(data, c.regular ? QByteArray("old\r\n") : QByteArray()) << c.name;
        EXPECT_EQ(AppendToFile(path, "line\r\n"), c.regular) << c.name;
        EXPECT_EQ(WriteFileAtomic(path, "new\r\n"), c.regular) << c.name;
        EXPECT_EQ(OpenRegularFile(path, O_RDONLY).IsValid(), c.regular) << c.name;
        QFile file;
        EXPECT_EQ(OpenRegularForReading(file, path), c.regular) << c.name;
        if (c.regular) {
            // Replaced through the link too; the link itself stays a link (checked below).
            EXPECT_EQ(ReadFile(Path("regular")), QByteArray("new\r\n")) << c.name;
            ASSERT_TRUE(WriteFile(Path("regular"), "old\r\n"));
        }
    }
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(Path("fifo")).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat(QFile::encodeName(Path("regular-link")).constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_FALSE(Entries().join(u' ').contains(QStringLiteral(".tmp")));  // no temporary left
    QByteArray data;
    EXPECT_FALSE(ReadWholeFile(Path("missing"), &data));
}

TEST_F(FileUtil, AnAppendCutShortByAFileSizeLimitIsTakenBack) {
    // In a child process with RLIMIT_FSIZE a few bytes beyond the file: a longer piece is cut by
    // the system and must leave nothing behind; a piece that fits goes right after the old end.
    const struct {
        rlim_t room;
        QList<QByteArray> pieces;
        QList<bool> results;
        QByteArray after;
    } kCases[] = {
        {0, {"line\r\n"}, {false}, "old\r\n"},
        {8, {QByteArray(20, 'a') + "\r\n", "next\r\n"}, {false, true}, "old\r\nnext\r\n"},
        {8, {"fits\r\n", "more\r\n"}, {true, false}, "old\r\nfits\r\n"},
    };
    for (const auto& c : kCases) {
        ASSERT_TRUE(WriteFile(Path("zarntool.log"), "old\r\n"));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);  // a short write instead of the signal
            const rlimit limit{5 + c.room, 5 + c.room};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(100);
            int bits = 0;
            for (qsizetype i = 0; i < c.pieces.size(); ++i)
                if (AppendToFile(Path("zarntool.log"), c.pieces[i])) bits |= 1 << i;
            ::_exit(bits);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        for (qsizetype i = 0; i < c.results.size(); ++i)
            EXPECT_EQ((WEXITSTATUS(status) >> i) & 1, c.results[i] ? 1 : 0) << c.room << i;
        EXPECT_EQ(ReadFile(Path("zarntool.log")), c.after) << c.room;
    }
}
