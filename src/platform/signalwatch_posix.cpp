#include "platform/signalwatch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/cancelevent.h"
#include "platform/deadline.h"

namespace platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = int(sizeof kSignals / sizeof kSignals[0]);

// What the handler touches: lock-free atomics and the write end of a pipe that lives as long as
// the process (a handler running on another thread must never write to a reused number).
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> g_first{0};
std::atomic<int> g_writeEnd{-1};
int g_readEnd = -1;
std::once_flag g_pipeOnce;
std::atomic<bool> g_claimed{false};

void OnSignal(int signal) {
    const int saved = errno;
    int none = 0;
    g_first.compare_exchange_strong(none, signal);
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already says that a signal came: the byte may be dropped.
    [[maybe_unused]] const ssize_t n = ::write(g_writeEnd.load(), &byte, 1);
    errno = saved;
}

bool MakePipe() {
    std::call_once(g_pipeOnce, [] {
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
        g_readEnd = ends[0];
        g_writeEnd.store(ends[1]);
    });
    return g_readEnd >= 0;
}

// Empties the pipe: bytes of an earlier watch's signals are not this watch's.
void Drain() {
    unsigned char buffer[64];
    while (::read(g_readEnd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

struct CSignalWatch::CState {
    CCancelEvent& cancel;
    Notify notify;
    CCancelEvent stop;
    std::thread thread;
    struct sigaction previous[kSignalCount] = {};
    bool installed[kSignalCount] = {};
    bool active = false;

    CState(CCancelEvent& c, Notify n) : cancel(c), notify(std::move(n)) {}

    // The watch's thread: waits for a byte of the handler until the watch ends.
    void Run() {
        bool told = false;
        while (!stop.IsSet()) {
            const int ready = WaitReady(g_readEnd, EReady::Read, CDeadline(60000), &stop);
            if (ready != 1) continue;
            Drain();
            const int signal = g_first.load();
            if (signal == 0 || told) continue;
            told = true;
            cancel.Set();
            if (notify) notify(signal);
        }
    }

    bool Install() {
        struct sigaction action {};
        action.sa_handler = OnSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (const int s : kSignals) sigaddset(&action.sa_mask, s);
        for (int i = 0; i < kSignalCount; ++i) {
            if (::sigaction(kSignals[i], nullptr, &previous[i]) != 0) return false;
            if (previous[i].sa_handler == SIG_IGN) continue;  // nohup and the like: stays ignored
            if (::sigaction(kSignals[i], &action, nullptr) != 0) return false;
            installed[i] = true;
        }
        return true;
    }

    void Uninstall() {
        for (int i = 0; i < kSignalCount; ++i) {
            if (installed[i]) ::sigaction(kSignals[i], &previous[i], nullptr);
            installed[i] = false;
        }
    }
};

CSignalWatch::CSignalWatch(CCancelEvent& cancel, Notify notify)
    : m_state(std::make_unique<CState>(cancel, std::move(notify))) {
    bool unclaimed = false;
    if (!MakePipe() || !g_claimed.compare_exchange_strong(unclaimed, true)) return;
    Drain();
    g_first.store(0);
    try {
        m_state->thread = std::thread([state = m_state.get()] { state->Run(); });
    } catch (const std::system_error&) {
        g_claimed.store(false);
        return;
    }
    m_state->active = m_state->Install();
    if (!m_state->active) m_state->Uninstall();
}

CSignalWatch::~CSignalWatch() {
    // The previous handling first, so that no signal is noted after the thread has gone.
    m_state->Uninstall();
    if (m_state->thread.joinable()) {
        m_state->stop.Set();
        m_state->thread.join();
        g_claimed.store(false);
    }
}

bool CSignalWatch::IsActive() const { return m_state->active; }

int CSignalWatch::Signal() const { return m_state->active ? g_first.load() : 0; }

QString CSignalWatch::Name(int signal) {
    switch (signal) {
        case SIGINT: return QStringLiteral("SIGINT");
        case SIGTERM: return QStringLiteral("SIGTERM");
        case SIGHUP: return QStringLiteral("SIGHUP");
        default: return QStringLiteral("signal %1").arg(signal);
    }
}

}  // namespace platform
