#pragma once
// The stop signals (SIGINT, SIGTERM, SIGHUP) turned into a cancel request for as long as a
// watch lives: a registration then ends the way "中止" ends it, and a fetch stops waiting at
// once. The handler only notes the signal and writes one byte to a pipe (the self-pipe
// pattern); a thread of the watch reads the pipe and sets the cancel event. Later signals
// change nothing, so they never cut a restore short. When the watch ends, the handling the
// signals had before comes back. A signal that was ignored when the watch began stays ignored.
// One watch at a time per process.
#include <QString>
#include <functional>
#include <memory>

namespace platform {

class CCancelEvent;

class CSignalWatch {
public:
    // Called once, on the watch's thread, with the first signal's number, after the cancel
    // event has been set.
    using Notify = std::function<void(int signal)>;

    CSignalWatch(CCancelEvent& cancel, Notify notify = {});
    ~CSignalWatch();
    CSignalWatch(const CSignalWatch&) = delete;
    CSignalWatch& operator=(const CSignalWatch&) = delete;

    // False when the signals could not be taken over (another watch is active, or the system
    // refused): they then keep the handling they had.
    bool IsActive() const;
    // The number of the first stop signal that came while the watch was active; 0 for none.
    int Signal() const;

    // "SIGINT", "SIGTERM", "SIGHUP", or "signal N" for any other number.
    static QString Name(int signal);

private:
    struct CState;
    std::unique_ptr<CState> m_state;
};

}  // namespace platform
