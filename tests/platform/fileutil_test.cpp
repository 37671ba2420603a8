// Atomic replacement, appending and the read-only rules shared by every writer.
#include "platform/fileutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

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

TEST_F(FileUtil, ReadsRegularFilesOnly) {
    QByteArray data = "stale";
    ASSERT_TRUE(WriteFile(Path("f"), QByteArray("a\0b", 3)));
    ASSERT_TRUE(ReadWholeFile(Path("f"), &data));
    EXPECT_EQ(data, QByteArray("a\0b", 3));
    EXPECT_FALSE(ReadWholeFile(m_dir.path(), &data));
    EXPECT_TRUE(data.isEmpty());
    EXPECT_FALSE(ReadWholeFile(Path("missing"), &data));
    // A FIFO would block a reader forever; it is refused at once.
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
    EXPECT_FALSE(ReadWholeFile(Path("fifo"), &data));
}
