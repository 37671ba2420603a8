#pragma once
// SIGTERM, SIGINT and SIGHUP turned into a cancel event for as long as the object lives: a
// long-running command waits on that event with its descriptors, so a signal ends the wait at
// once and a registration under way stops after its command and puts the table back. The
// handlers that were there before come back when the object goes. One at a time.
namespace platform {

class CCancelEvent;

class CStopSignals {
public:
    explicit CStopSignals(CCancelEvent& event);
    ~CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    // The number of the last signal received, or 0.
    static int Received();
};

}  // namespace platform
