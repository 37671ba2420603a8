#include "platform/stopsignals.h"

#include <signal.h>

#include <atomic>

#include "platform/cancelevent.h"

namespace platform {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
std::atomic<CCancelEvent*> g_event{nullptr};
std::atomic<int> g_received{0};
struct sigaction g_previous[3];

// Only async-signal-safe work: an atomic store and the event's write().
void OnSignal(int number) {
    g_received.store(number);
    if (CCancelEvent* event = g_event.load()) event->Set();
}

}  // namespace

CStopSignals::CStopSignals(CCancelEvent& event) {
    g_received.store(0);
    g_event.store(&event);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

CStopSignals::~CStopSignals() {
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_event.store(nullptr);
}

int CStopSignals::Received() { return g_received.load(); }

}  // namespace platform
