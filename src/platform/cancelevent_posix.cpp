#include "platform/cancelevent.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

CCancelEvent::CCancelEvent() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void CCancelEvent::Set() {
    m_bSet.store(true, std::memory_order_release);
    if (m_fd.Get() < 0) return;
    // The counter only grows and is never read: the descriptor stays readable.
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(m_fd.Get(), &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

}  // namespace platform
