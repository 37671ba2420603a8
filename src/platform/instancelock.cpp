#include "platform/instancelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

namespace platform {
namespace {

QString DefaultDirectory() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        struct stat st {};
        if (::stat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == ::geteuid())
            return QString::fromLocal8Bit(runtime);
    }
    return QStringLiteral("/tmp");
}

}  // namespace

CInstanceLock::~CInstanceLock() { Release(); }

CInstanceLock::Result CInstanceLock::Acquire(const QString& name, const QString& directory) {
    Release();
    m_lastError = 0;
    const QString dir = directory.isEmpty() ? DefaultDirectory() : directory;
    const QString path =
        dir + u'/' + name + u'-' + QString::number(::geteuid()) + QStringLiteral(".lock");
    const QByteArray native = QFile::encodeName(path);
    // O_NOFOLLOW: the folder may be shared (/tmp); never follow a planted link.
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_lastError = errno;
        return Result::Failed;
    }
    // Someone else's file in a shared folder is not our lock.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        m_lastError = EPERM;
        ::close(fd);
        return Result::Failed;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return Result::AlreadyHeld;
        m_lastError = err;
        return Result::Failed;
    }
    m_fd = fd;
    return Result::Acquired;
}

void CInstanceLock::Release() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace platform
