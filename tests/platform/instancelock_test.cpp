// The single-instance lock: detectable by a second process, given back on exit and on a crash.
#include "platform/instancelock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>

using platform::CInstanceLock;
using Result = CInstanceLock::Result;

namespace {

// Starts the lock holder and returns the word it printed.
QString StartHolder(QProcess& process, const QString& dir, const QString& name) {
    process.start(QStringLiteral(CORVANE_LOCKHOLDER), {dir, name});
    if (!process.waitForStarted(10000)) return QStringLiteral("not started");
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000)) return QStringLiteral("no answer");
    }
    return QString::fromLatin1(process.readLine()).trimmed();
}

}  // namespace

TEST(InstanceLock, SecondHolderInTheSameProcessIsTold) {
    QTemporaryDir dir;
    CInstanceLock first;
    CInstanceLock second;
    ASSERT_EQ(first.Acquire(QStringLiteral("zarntool"), dir.path()), Result::Acquired);
    EXPECT_TRUE(first.IsHeld());
    EXPECT_EQ(second.Acquire(QStringLiteral("zarntool"), dir.path()), Result::AlreadyHeld);
    EXPECT_FALSE(second.IsHeld());
    // Another program name is another lock.
    EXPECT_EQ(second.Acquire(QStringLiteral("othertool"), dir.path()), Result::Acquired);
    first.Release();
    first.Release();  // harmless
    EXPECT_FALSE(first.IsHeld());
    EXPECT_EQ(first.Acquire(QStringLiteral("zarntool"), dir.path()), Result::Acquired);
}

TEST(InstanceLock, LockOfAnotherProcessIsDetectedAndFreedWhenItExits) {
    QTemporaryDir dir;
    QProcess holder;
    ASSERT_EQ(StartHolder(holder, dir.path(), QStringLiteral("zarntool")),
              QStringLiteral("acquired"));
    CInstanceLock lock;
    EXPECT_EQ(lock.Acquire(QStringLiteral("zarntool"), dir.path()), Result::AlreadyHeld);
    QProcess third;
    EXPECT_EQ(StartHolder(third, dir.path(), QStringLiteral("zarntool")), QStringLiteral("held"));
    third.waitForFinished(10000);
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_EQ(holder.exitCode(), 0);
    EXPECT_EQ(lock.Acquire(QStringLiteral("zarntool"), dir.path()), Result::Acquired);
}

TEST(InstanceLock, LockOfAProcessThatCrashesIsFreed) {
    QTemporaryDir dir;
    QProcess holder;
    ASSERT_EQ(StartHolder(holder, dir.path(), QStringLiteral("zarntool")),
              QStringLiteral("acquired"));
    CInstanceLock lock;
    ASSERT_EQ(lock.Acquire(QStringLiteral("zarntool"), dir.path()), Result::AlreadyHeld);
    holder.kill();  // SIGKILL: no clean-up code runs
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_EQ(lock.Acquire(QStringLiteral("zarntool"), dir.path()), Result::Acquired);
}

TEST(InstanceLock, HeldLockIsReleasedByTheDestructor) {
    QTemporaryDir dir;
    {
        CInstanceLock lock;
        ASSERT_EQ(lock.Acquire(QStringLiteral("zarntool"), dir.path()), Result::Acquired);
    }
    CInstanceLock again;
    EXPECT_EQ(again.Acquire(QStringLiteral("zarntool"), dir.path()), Result::Acquired);
}

TEST(InstanceLock, NeverFollowsALinkPlantedInPlaceOfTheLockFile) {
    QTemporaryDir dir;
    const QString target = dir.path() + QStringLiteral("/victim");
    const QString lockFile = dir.path() + QStringLiteral("/zarntool-%1.lock").arg(::geteuid());
    ASSERT_EQ(
        ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(lockFile).constData()),
        0);
    CInstanceLock lock;
    EXPECT_EQ(lock.Acquire(QStringLiteral("zarntool"), dir.path()), Result::Failed);
    EXPECT_NE(lock.LastError(), 0);
    EXPECT_FALSE(QFile::exists(target));
}

TEST(InstanceLock, MissingFolderFailsWithTheSystemError) {
    QTemporaryDir dir;
    CInstanceLock lock;
    EXPECT_EQ(lock.Acquire(QStringLiteral("zarntool"), dir.path() + QStringLiteral("/missing")),
              Result::Failed);
    EXPECT_EQ(lock.LastError(), ENOENT);
    EXPECT_FALSE(lock.IsHeld());
}

TEST(InstanceLock, DefaultFolderWorksAcrossProcesses) {
    // The program itself passes no folder: the per-user runtime folder (or /tmp) is used.
    const QString name = QStringLiteral("corvane-locktest-%1").arg(::getpid());
    CInstanceLock lock;
    ASSERT_EQ(lock.Acquire(name), Result::Acquired);
    QProcess other;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    // The helper must look in the same folder the default chose.
    QString folder = QStringLiteral("/tmp");
    struct stat st {};
    if (!runtime.isEmpty() && ::stat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == ::geteuid())
        folder = QString::fromLocal8Bit(runtime);
    EXPECT_EQ(StartHolder(other, folder, name), QStringLiteral("held"));
    other.waitForFinished(10000);
    lock.Release();
    QFile::remove(folder + u'/' + name + u'-' + QString::number(::geteuid()) +
                  QStringLiteral(".lock"));
}
