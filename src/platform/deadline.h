#pragma once
// A fixed moment at which a network exchange ends, and waits that never pass it: however the
// peer spaces its bytes or datagrams, each wait is for the time that is left, not a fresh one.
#include <algorithm>
#include <chrono>

namespace platform {

class CCancelEvent;

class CDeadline {
public:
    using Clock = std::chrono::steady_clock;

    // Ends waitMs milliseconds from now (a negative wait is none).
    explicit CDeadline(int waitMs)
        : m_end(Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0))) {}

    // Milliseconds left, rounded up so that a wait does not end before the deadline; 0 once it
    // has passed.
    int RemainingMs() const {
        const auto left = m_end - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }

    // An earlier deadline for one of `parts` attempts that share the time left: an equal part
    // of it. With one part, the same deadline.
    CDeadline Share(int parts) const {
        const auto now = Clock::now();
        if (parts <= 1 || m_end <= now) return *this;
        return CDeadline(now + (m_end - now) / parts);
    }

private:
    explicit CDeadline(Clock::time_point end) : m_end(end) {}
    Clock::time_point m_end;
};

// What a descriptor is waited for.
enum class EReady { Read, Write };

// What WaitReady answers when the wait was ended by the cancel event.
constexpr int kWaitCancelled = -2;

// Waits until the descriptor is ready for `what` or the deadline has passed: 1 ready, 0 when the
// time ran out, -1 on failure (errno set), kWaitCancelled as soon as `cancel` (when given) is
// set, checked before the wait too. An interrupted wait goes on for the time that is left.
// Every wait of the network exchanges and of the process runner comes through here.
int WaitReady(int fd, EReady what, const CDeadline& deadline, const CCancelEvent* cancel = nullptr);

// The same wait for reading on up to four descriptors at once (a negative one is ignored):
// the bits of the ready ones (bit i for fds[i]), 0, -1 or kWaitCancelled as WaitReady.
int WaitReadable(const int* fds, int count, const CDeadline& deadline,
                 const CCancelEvent* cancel = nullptr);

}  // namespace platform
