#include "platform/fileutil.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool ModeAllowsWrite(const QString& path) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0) return false;
    if (::geteuid() == 0) return (st.st_mode & 0222) != 0;
    return ::access(native.constData(), W_OK) == 0;
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

bool ReadWholeFile(const QString& path, QByteArray* data) {
    data->clear();
    if (!FileExists(path)) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    *data = file.readAll();
    return file.error() == QFile::NoError;
}

}  // namespace platform
