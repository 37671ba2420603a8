#include "platform/deadline.h"

#include <poll.h>

#include <cerrno>

namespace platform {

int WaitReady(int fd, EReady what, const CDeadline& deadline) {
    for (;;) {
        pollfd pfd{};
        pfd.fd = fd;
        pfd.events = what == EReady::Read ? POLLIN : POLLOUT;
        const int ready = ::poll(&pfd, 1, deadline.RemainingMs());
        if (ready >= 0 || errno != EINTR) return ready > 0 ? 1 : ready;
    }
}

}  // namespace platform
