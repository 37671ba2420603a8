#pragma once
// A request to stop, set from any thread and noticed at once by a thread that waits on a
// descriptor: the wait includes the event's own descriptor (an eventfd), so setting it wakes
// the waiter instead of leaving it to its deadline. Once set it stays set.
#include <atomic>

#include "platform/fd.h"

namespace platform {

class CCancelEvent {
public:
    CCancelEvent();
    CCancelEvent(const CCancelEvent&) = delete;
    CCancelEvent& operator=(const CCancelEvent&) = delete;

    void Set();
    bool IsSet() const { return m_bSet.load(std::memory_order_acquire); }
    // Readable once set; -1 when the system gave no descriptor (waits then look at the flag
    // in short slices). Waits take it through platform::WaitReady.
    int Fd() const { return m_fd.Get(); }

private:
    CFd m_fd;
    std::atomic<bool> m_bSet{false};
};

}  // namespace platform
