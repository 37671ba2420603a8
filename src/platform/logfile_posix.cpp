#include "platform/logfile.h"

#include <sys/stat.h>

#include <QFile>

#include "platform/fileutil.h"

namespace platform {
namespace {

template <class Identity>
Identity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_mode, st.st_uid, st.st_gid};
}

}  // namespace

bool CLogFile::Append(const QString& path, const QByteArray& line) {
    if (path.isEmpty()) return false;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!StillNamesTheFile(path)) Open(path);
    return m_fd.IsValid() && AppendWhole(m_fd, line);
}

bool CLogFile::StillNamesTheFile(const QString& path) const {
    if (!m_fd.IsValid() || path != m_path) return false;
    struct stat st {};
    return ::stat(m_nativePath.constData(), &st) == 0 && IdentityOf<CIdentity>(st) == m_identity;
}

// Opens the file the path names now; on any refusal nothing is held and the next line tries
// again.
void CLogFile::Open(const QString& path) {
    m_fd.Reset();
    if (path != m_path) {
        m_path = path;
        m_nativePath = QFile::encodeName(path);
    }
    CFd fd = OpenForAppending(path);
    struct stat st {};
    if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0) return;
    m_identity = IdentityOf<CIdentity>(st);
    m_fd = std::move(fd);
}

}  // namespace platform
