#include "platform/regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace platform {

CFd OpenRegularFile(const char* path, int flags, unsigned mode, CFileStatus* info) {
    if (!path || !*path) {
        errno = ENOENT;
        return CFd();
    }
    int fd;
    do {
        fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode_t(mode));
    } while (fd < 0 && errno == EINTR);
    CFd file(fd);
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
    if (info) info->permissions = unsigned(st.st_mode & 07777);
    return file;
}

}  // namespace platform
