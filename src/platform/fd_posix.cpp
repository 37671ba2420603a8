#include "platform/fd.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

CFd& CFd::operator=(CFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

void CFd::Reset(int fd) noexcept {
    if (m_fd >= 0) {
        const int saved = errno;
        ::close(m_fd);
        errno = saved;
    }
    m_fd = fd;
}

bool CFd::Close() noexcept {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
}

}  // namespace platform
