#include "platform/selfpath.h"

#include <QFile>
#include <QFileInfo>

#include <limits.h>
#include <unistd.h>

namespace platform {

QString ProgramFilePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer)) return {};
    return QFile::decodeName(QByteArray(buffer, n));
}

QString ProgramDirectory() {
    const QString file = ProgramFilePath();
    if (file.isEmpty()) return {};
    const qsizetype slash = file.lastIndexOf(u'/');
    return file.left(slash + 1);
}

QString ProgramName() {
    const QString file = ProgramFilePath();
    if (file.isEmpty()) return QStringLiteral("zarntool");
    return QFileInfo(file).completeBaseName();
}

}  // namespace platform
