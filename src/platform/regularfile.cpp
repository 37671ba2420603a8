#include "platform/regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

CFileDescriptor& CFileDescriptor::operator=(CFileDescriptor&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.Release();
    }
    return *this;
}

bool CFileDescriptor::Close() {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
}

CFileDescriptor OpenRegularFile(const char* path, int flags, mode_t mode, struct stat* info) {
    if (!path || !*path) {
        errno = ENOENT;
        return CFileDescriptor();
    }
    int fd;
    do {
        fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    CFileDescriptor file(fd);
    if (!file.IsValid()) return file;
    // The check is made on what was opened, so nothing can be swapped in after it.
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0) {
        const int err = errno;
        file.Close();
        errno = err;
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        file.Close();
        errno = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
        return file;
    }
    // The status flags are the ones asked for, without O_NONBLOCK.
    constexpr int kStatusFlags = O_APPEND | O_ASYNC | O_DIRECT | O_NOATIME;
    if (::fcntl(file.Get(), F_SETFL, flags & kStatusFlags) != 0) {
        const int err = errno;
        file.Close();
        errno = err;
        return file;
    }
    if (info) *info = st;
    return file;
}

}  // namespace platform
