// The single-instance lock: detectable by a second process, given back on exit and on a crash.
#include "platform/instancelock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <functional>

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

TEST(InstanceLock, AnythingPlantedByOthersMakesTheLockFailNeverPass) {
    // The folder must be this user's alone (owner, mode 0700, not a link) and the lock file a
    // regular file of this user's. Files of another user can only be planted by root.
    const QString lockName = QStringLiteral("zarntool-%1.lock").arg(::geteuid());
    const uid_t other = 65534;
    auto encode = [](const QString& p) { return QFile::encodeName(p); };
    const struct {
        const char* what;
        bool needsRoot;
        std::function<bool(const QString& folder)> plant;
    } kCases[] = {
        {"link in place of the lock file", false,
         [&](const QString& f) {
             return ::symlink(encode(f + QStringLiteral("/victim")).constData(),
                              encode(f + u'/' + lockName).constData()) == 0;
         }},
        {"FIFO in place of the lock file", false,
         [&](const QString& f) { return ::mkfifo(encode(f + u'/' + lockName).constData(), 0600) == 0; }},
        {"lock file of another user", true,
         [&](const QString& f) {
             const QByteArray p = encode(f + u'/' + lockName);
             const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
             return fd >= 0 && ::close(fd) == 0 && ::chown(p.constData(), other, other) == 0;
         }},
        {"folder of another user", true,
         [&](const QString& f) { return ::chown(encode(f).constData(), other, other) == 0; }},
        {"folder open to others", false,
         [&](const QString& f) { return ::chmod(encode(f).constData(), 0777) == 0; }},
        {"folder replaced by a link to a private folder", false,
         [&](const QString& f) {
             const QByteArray real = encode(f + QStringLiteral("-real"));
             return ::rename(encode(f).constData(), real.constData()) == 0 &&
                    ::symlink(real.constData(), encode(f).constData()) == 0;
         }},
        {"missing folder", false, [&](const QString& f) { return QDir(f).removeRecursively(); }},
    };
    int skipped = 0;
    for (const auto& c : kCases) {
        if (c.needsRoot && ::geteuid() != 0) {
            ++skipped;
            continue;
        }
        QTemporaryDir base;
        const QString folder = base.path() + QStringLiteral("/private");
        ASSERT_EQ(::mkdir(encode(folder).constData(), 0700), 0);
        ASSERT_TRUE(c.plant(folder)) << c.what;
        CInstanceLock lock;
        EXPECT_EQ(lock.Acquire(QStringLiteral("zarntool"), folder), Result::Failed) << c.what;
        EXPECT_NE(lock.LastError(), 0) << c.what;
        EXPECT_FALSE(lock.IsHeld()) << c.what;
        EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/victim"))) << c.what;
    }
    if (skipped > 0)
        GTEST_SKIP() << skipped << " cases plant files of another user, which needs root";
}

TEST(InstanceLock, DefaultFolderIsPrivateAndWorksAcrossProcesses) {
    // The program itself passes no folder. Without a usable runtime folder the lock goes to a
    // folder of the user's own under /tmp, made with mode 0700.
    const QString name = QStringLiteral("corvane-locktest-%1").arg(::getpid());
    const QString fallback = QStringLiteral("/tmp/corvane-%1").arg(::geteuid());
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    holder.setProcessEnvironment(env);
    ASSERT_EQ(StartHolder(holder, QString(), name), QStringLiteral("acquired"));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(fallback).constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    CInstanceLock lock;
    EXPECT_EQ(lock.Acquire(name, fallback), Result::AlreadyHeld);
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(10000));

    // In this process the default folder is the runtime folder when it is private, else the same
    // fallback; either way a second process finds the lock there.
    ASSERT_EQ(lock.Acquire(name), Result::Acquired);
    QProcess other;
    EXPECT_EQ(StartHolder(other, CInstanceLock::DefaultDirectory(), name), QStringLiteral("held"));
    other.waitForFinished(10000);
    lock.Release();
    for (const QString& folder : {fallback, CInstanceLock::DefaultDirectory()})
        QFile::remove(folder + u'/' + name + u'-' + QString::number(::geteuid()) +
                      QStringLiteral(".lock"));
}
