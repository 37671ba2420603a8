#pragma once
// A request to stop, set from any thread and noticed at once by a thread that waits on a
// descriptor: the wait includes the event's own descriptor (an eventfd), so setting it wakes
// the waiter instead of leaving it to its deadline. Once set it stays set.
#include <atomic>

#include "platform/deadline.h"

namespace platform {

class CCancelEvent {
public:
    CCancelEvent();
    ~CCancelEvent();
    CCancelEvent(const CCancelEvent&) = delete;
    CCancelEvent& operator=(const CCancelEvent&) = delete;

    void Set();
    bool IsSet() const { return m_bSet.load(std::memory_order_acquire); }
    // Readable once set; -1 when the system gave no descriptor (waits then look at the flag
    // in short slices).
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
    std::atomic<bool> m_bSet{false};
};

// What PollUntil answers when the wait was ended by the cancel event.
constexpr int kWaitCancelled = -2;

// PollUntil that also ends, with kWaitCancelled, as soon as `cancel` is set (checked before the
// wait too). A null `cancel` is the plain wait.
int PollUntil(int fd, short events, const CDeadline& deadline, const CCancelEvent* cancel);

}  // namespace platform
