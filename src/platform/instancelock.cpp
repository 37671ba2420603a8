#include "platform/instancelock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const QString dir = directory.isEmpty() ? DefaultDirectory() : directory;
    const QString path = dir + u'/' + name + u'-' + QString::number(::geteuid()) + QStringLiteral(".lock");
    const QByteArray native = QFile::encodeName(path);
    // O_NOFOLLOW: the folder may be shared (/tmp); never follow a planted link.
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Result::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? Result::AlreadyHeld : Result::Failed;
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
