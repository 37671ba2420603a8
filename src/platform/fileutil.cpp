#include "platform/fileutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

namespace platform {
namespace {

// Root passes every access() check; a file or folder without any write bit must still refuse.
bool StatAllowsWrite(const struct stat& st) { return (st.st_mode & 0222) != 0; }

bool ModeAllowsWrite(const QString& path) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0) return false;
    if (::geteuid() == 0) return StatAllowsWrite(st);
    return ::access(native.constData(), W_OK) == 0;
}

// Owns one descriptor; closes it on every path.
class CFd {
public:
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

}  // namespace

bool FileExists(const QString& path) {
    if (path.isEmpty()) return false;
    QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool DirectoryExists(const QString& path) {
    if (path.isEmpty()) return false;
    return QFileInfo(path).isDir();
}

bool IsWritableTarget(const QString& path) {
    if (path.isEmpty()) return false;
    QFileInfo info(path);
    if (info.isDir()) return false;
    QString dir = info.absolutePath();
    if (!DirectoryExists(dir) || !ModeAllowsWrite(dir)) return false;
    if (info.exists() && !ModeAllowsWrite(path)) return false;
    return true;
}

bool WriteFileAtomic(const QString& path, const QByteArray& data) {
    if (!IsWritableTarget(path)) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool AppendToFile(const QString& path, const QByteArray& data) {
    if (path.isEmpty()) return false;
    const QByteArray native = QFile::encodeName(path);
    const bool root = ::geteuid() == 0;
    CFd fd(::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        if (errno != ENOENT) return false;
        // Missing: create it, unless its folder is read-only.
        const QString dir = QFileInfo(path).absolutePath();
        if (!DirectoryExists(dir) || !ModeAllowsWrite(dir)) return false;
        CFd created(
            ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
        if (created.Get() < 0) return false;
        return WriteAll(created.Get(), data) && created.Close();
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (root && !StatAllowsWrite(st)) return false;
    return WriteAll(fd.Get(), data) && fd.Close();
}

bool ReadWholeFile(const QString& path, QByteArray* data) {
    data->clear();
    // Only regular files: a FIFO or a device would block or never end.
    if (path.isEmpty() || !QFileInfo(path).isFile()) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    *data = file.readAll();
    return file.error() == QFile::NoError;
}

}  // namespace platform
