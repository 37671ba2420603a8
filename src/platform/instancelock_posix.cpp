#include "platform/instancelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <utility>

namespace platform {
namespace {

// A folder only this user can create entries in.
bool IsPrivateFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}

QString FallbackDirectory() {
    return QStringLiteral("/tmp/corvane-") + QString::number(::geteuid());
}

}  // namespace

QString CInstanceLock::DefaultDirectory() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && runtime.startsWith('/')) {
        struct stat st {};
        if (::lstat(runtime.constData(), &st) == 0 && IsPrivateFolder(st))
            return QString::fromLocal8Bit(runtime);
    }
    return FallbackDirectory();
}

CInstanceLock::~CInstanceLock() { Release(); }

CInstanceLock::Result CInstanceLock::Acquire(const QString& name, const QString& directory) {
    Release();
    m_lastError = 0;
    auto fail = [this](int error) {
        m_lastError = error != 0 ? error : EPERM;
        return Result::Failed;
    };
    const QString dir = directory.isEmpty() ? DefaultDirectory() : directory;
    const QByteArray nativeDir = QFile::encodeName(dir);
    // The shared fallback folder is made on first use; one that exists is checked like any other.
    if (directory.isEmpty() && dir == FallbackDirectory() &&
        ::mkdir(nativeDir.constData(), 0700) != 0 && errno != EEXIST)
        return fail(errno);
    // The folder is opened without following a link and checked on what was opened; the lock
    // file is then created relative to that very folder.
    CFd folder(
        ::open(nativeDir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.IsValid()) return fail(errno);
    struct stat st {};
    if (::fstat(folder.Get(), &st) != 0) return fail(errno);
    if (!IsPrivateFolder(st)) return fail(EPERM);

    const QByteArray file =
        QFile::encodeName(name + u'-' + QString::number(::geteuid()) + QStringLiteral(".lock"));
    CFd lock(::openat(folder.Get(), file.constData(),
                      O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600));
    if (!lock.IsValid()) return fail(errno);
    // Only a regular file of this user's is our lock.
    if (::fstat(lock.Get(), &st) != 0) return fail(errno);
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return fail(EPERM);
    int rc;
    do {
        rc = ::flock(lock.Get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno == EWOULDBLOCK) return Result::AlreadyHeld;
        return fail(errno);
    }
    m_lock = std::move(lock);
    return Result::Acquired;
}

void CInstanceLock::Release() {
    if (m_lock.IsValid()) {
        ::flock(m_lock.Get(), LOCK_UN);
        m_lock.Close();
    }
}

}  // namespace platform
