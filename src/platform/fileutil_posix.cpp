#include "platform/fileutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>

namespace platform {
namespace {

// Root passes every access() check; a file or folder without any write bit must still refuse.
bool PermissionsAllowWrite(unsigned permissions) { return (permissions & 0222) != 0; }

bool ModeAllowsWrite(const QString& path) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0) return false;
    if (::geteuid() == 0) return PermissionsAllowWrite(st.st_mode);
    return ::access(native.constData(), W_OK) == 0;
}

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

// One write() for the whole piece, so that it never mixes with another writer's. When only a
// part gets in (a full disk, a file size limit), the file is cut back to where the write began:
// the next piece must not continue a broken one.
bool AppendWhole(int fd, const QByteArray& data) {
    if (data.isEmpty()) return true;
    ssize_t n;
    do {
        n = ::write(fd, data.constData(), static_cast<size_t>(data.size()));
    } while (n < 0 && errno == EINTR);
    if (n == data.size()) return true;
    if (n > 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_size >= n) {
            while (::ftruncate(fd, st.st_size - n) != 0 && errno == EINTR) {
            }
        }
    }
    return false;
}

// Reads to the end of the file; the buffer grows only by what read() delivered.
bool ReadAll(int fd, QByteArray* data) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && st.st_size < (qint64(1) << 30))
        data->reserve(static_cast<qsizetype>(st.st_size) + 1);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            data->clear();
            return false;
        }
        if (n == 0) return true;
        data->append(buffer, n);
    }
}

// The file a replacement goes to: a link is followed to the file it names.
QString ReplacementTarget(const QString& path) {
    const QFileInfo info(path);
    if (!info.isSymLink()) return path;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

// Flushes a folder's entries (a rename, a new or removed name) to disk.
bool SyncFolder(const QString& folder) {
    CFd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.IsValid()) return false;
    int rc;
    do {
        rc = ::fsync(fd.Get());
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

}  // namespace

CFd OpenRegularFile(const QString& path, int flags, unsigned mode, CFileStatus* info) {
    return OpenRegularFile(QFile::encodeName(path).constData(), flags, mode, info);
}

bool OpenRegularForReading(QFile& file, const QString& path) {
    CFd fd = OpenRegularFile(path, O_RDONLY);
    if (!fd.IsValid()) return false;
    if (!file.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return false;
    fd.Release();  // the QFile closes it now
    return true;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

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

bool WriteFileAtomic(const QString& path, const QByteArray& data, bool durable) {
    if (!IsWritableTarget(path)) return false;
    const QString target = ReplacementTarget(path);
    // The file being replaced must be a regular one; its permissions carry over.
    mode_t keepMode = 0;
    bool keep = false;
    {
        CFileStatus status;
        CFd existing = OpenRegularFile(target, O_RDONLY, 0, &status);
        if (existing.IsValid()) {
            keepMode = mode_t(status.permissions);
            keep = true;
        } else if (errno != ENOENT) {
            return false;
        }
    }
    const QFileInfo info(target);
    const QString prefix = info.absolutePath() + QStringLiteral("/.") + info.fileName();
    CFd temp;
    QByteArray tempName;
    for (int attempt = 0; attempt < 16 && !temp.IsValid(); ++attempt) {
        tempName = QFile::encodeName(prefix + u'.' +
                                     QString::number(QRandomGenerator::global()->generate64(), 36) +
                                     QStringLiteral(".tmp"));
        temp =
            OpenRegularFile(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (!temp.IsValid() && errno != EEXIST) return false;
    }
    if (!temp.IsValid()) return false;
    const bool written = (!keep || ::fchmod(temp.Get(), keepMode) == 0) &&
                         WriteAll(temp.Get(), data) && ::fdatasync(temp.Get()) == 0 &&
                         temp.Close() &&
                         ::rename(tempName.constData(), QFile::encodeName(target).constData()) == 0;
    if (!written) ::unlink(tempName.constData());
    return written && (!durable || SyncFolder(info.absolutePath()));
}

bool MakeFolderDurable(const QString& path) {
    if (path.isEmpty()) return false;
    if (::mkdir(QFile::encodeName(path).constData(), 0755) != 0)
        return errno == EEXIST && DirectoryExists(path);
    return SyncFolder(QFileInfo(path).absolutePath());
}

bool RemoveFileDurable(const QString& path) {
    if (path.isEmpty()) return false;
    if (::unlink(QFile::encodeName(path).constData()) != 0) return errno == ENOENT;
    return SyncFolder(QFileInfo(path).absolutePath());
}

bool RenameFileDurable(const QString& from, const QString& to) {
    if (from.isEmpty() || to.isEmpty()) return false;
    const QByteArray target = QFile::encodeName(to);
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 || errno != ENOENT) return false;
    if (::rename(QFile::encodeName(from).constData(), target.constData()) != 0) return false;
    return SyncFolder(QFileInfo(to).absolutePath());
}

bool AppendToFile(const QString& path, const QByteArray& data) {
    if (path.isEmpty()) return false;
    const QByteArray native = QFile::encodeName(path);
    CFileStatus status;
    CFd fd = OpenRegularFile(native.constData(), O_WRONLY | O_APPEND, 0, &status);
    if (!fd.IsValid()) {
        if (errno != ENOENT) return false;
        // Missing: create it, unless its folder is read-only.
        const QString dir = QFileInfo(path).absolutePath();
        if (!DirectoryExists(dir) || !ModeAllowsWrite(dir)) return false;
        fd = OpenRegularFile(native.constData(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        if (!fd.IsValid()) return false;
    } else if (::geteuid() == 0 && !PermissionsAllowWrite(status.permissions)) {
        return false;
    }
    return AppendWhole(fd.Get(), data) && fd.Close();
}

bool ReadWholeFile(const QString& path, QByteArray* data) {
    data->clear();
    if (path.isEmpty()) return false;
    CFd fd = OpenRegularFile(path, O_RDONLY);
    return fd.IsValid() && ReadAll(fd.Get(), data);
}

}  // namespace platform
