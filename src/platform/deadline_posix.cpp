#include "platform/deadline.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "platform/cancelevent.h"

namespace platform {
namespace {
// Without a descriptor to wake it, a cancellable wait looks at the flag this often.
constexpr int kSliceMs = 20;
}  // namespace

int WaitReady(int fd, EReady what, const CDeadline& deadline, const CCancelEvent* cancel) {
    for (;;) {
        if (cancel != nullptr && cancel->IsSet()) return kWaitCancelled;
        // The cancel event's descriptor is waited on too; a negative one is ignored by poll.
        pollfd pfd[2] = {};
        pfd[0].fd = fd;
        pfd[0].events = what == EReady::Read ? POLLIN : POLLOUT;
        pfd[1].fd = cancel != nullptr ? cancel->Fd() : -1;
        pfd[1].events = POLLIN;
        const int remaining = deadline.RemainingMs();
        const bool sliced = cancel != nullptr && cancel->Fd() < 0;
        const int ready = ::poll(pfd, 2, sliced ? std::min(remaining, kSliceMs) : remaining);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (cancel != nullptr && cancel->IsSet()) return kWaitCancelled;
        if (pfd[0].revents != 0) return 1;
        if (ready == 0 && (!sliced || deadline.RemainingMs() == 0)) return 0;
    }
}

int WaitReadable(const int* fds, int count, const CDeadline& deadline,
                 const CCancelEvent* cancel) {
    constexpr int kMax = 4;
    count = std::clamp(count, 0, kMax);
    for (;;) {
        if (cancel != nullptr && cancel->IsSet()) return kWaitCancelled;
        pollfd pfd[kMax + 1] = {};
        for (int i = 0; i < count; ++i) {
            pfd[i].fd = fds[i];
            pfd[i].events = POLLIN;
        }
        pfd[count].fd = cancel != nullptr ? cancel->Fd() : -1;
        pfd[count].events = POLLIN;
        const int remaining = deadline.RemainingMs();
        const bool sliced = cancel != nullptr && cancel->Fd() < 0;
        const int ready =
            ::poll(pfd, nfds_t(count + 1), sliced ? std::min(remaining, kSliceMs) : remaining);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (cancel != nullptr && cancel->IsSet()) return kWaitCancelled;
        int bits = 0;
        for (int i = 0; i < count; ++i)
            if (pfd[i].revents != 0) bits |= 1 << i;
        if (bits != 0) return bits;
        if (ready == 0 && (!sliced || deadline.RemainingMs() == 0)) return 0;
    }
}

}  // namespace platform
