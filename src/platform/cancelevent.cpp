#include "platform/cancelevent.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace platform {

namespace {

// Without a descriptor to wake it, a wait looks at the flag this often.
constexpr int kSliceMs = 20;

}  // namespace

CCancelEvent::CCancelEvent() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CCancelEvent::~CCancelEvent() {
    if (m_fd >= 0) ::close(m_fd);
}

void CCancelEvent::Set() {
    m_bSet.store(true, std::memory_order_release);
    if (m_fd < 0) return;
    // The counter only grows and is never read: the descriptor stays readable.
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(m_fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

int PollUntil(int fd, short events, const CDeadline& deadline, const CCancelEvent* cancel) {
    if (cancel == nullptr) return PollUntil(fd, events, deadline);
    for (;;) {
        if (cancel->IsSet()) return kWaitCancelled;
        pollfd pfd[2] = {};
        pfd[0].fd = fd;
        pfd[0].events = events;
        pfd[1].fd = cancel->Fd();  // a negative descriptor is ignored by poll
        pfd[1].events = POLLIN;
        const int remaining = deadline.RemainingMs();
        const int timeout = cancel->Fd() >= 0 ? remaining : std::min(remaining, kSliceMs);
        const int ready = ::poll(pfd, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return ready;
        }
        if (cancel->IsSet()) return kWaitCancelled;
        if (pfd[0].revents != 0) return 1;
        if (ready == 0 && deadline.RemainingMs() == 0) return 0;
    }
}

}  // namespace platform
