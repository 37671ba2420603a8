// The staged program as a whole process: from its start to the agreement dialog mapped on a
// private X server (Xvfb), and the peak memory of the process with the dialog shown and drawn.
// The time is taken from the spawn to the server's MapNotify of the program's "Corvane" window,
// so no polling delay is counted.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string FindOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string all = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= all.size()) {
        const size_t end = all.find(':', start);
        const std::string dir = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty()) {
            const std::string candidate = dir + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    for (const std::string& e : extraEnv) envStrings.push_back(e);
    std::vector<char*> env;
    for (std::string& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], actions, nullptr, args.data(), env.data()) != 0) return -1;
    return pid;
}

// A private X server for the life of the object.
class CXvfb {
public:
    CXvfb() {
        const std::string xvfb = FindOnPath("Xvfb");
        if (xvfb.empty()) return;
        int ends[2];
        if (::pipe(ends) != 0) return;
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addclose(&actions, ends[0]);
        m_pid = Spawn({xvfb, "-displayfd", std::to_string(ends[1]), "-screen", "0", "1024x768x24",
                       "-nolisten", "tcp"},
                      {}, &actions);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        std::string number;
        char c;
        pollfd p{ends[0], POLLIN, 0};
        while (::poll(&p, 1, 10000) > 0 && ::read(ends[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(ends[0]);
        if (!number.empty()) m_display = ":" + number;
    }
    ~CXvfb() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    const std::string& Display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

// A copy of the staged installation in a temporary folder.
class CInstall {
public:
    CInstall() {
        char pattern[] = "/tmp/corvane-bench-XXXXXX";
        if (!::mkdtemp(pattern)) return;
        m_dir = pattern;
        const fs::path stage = CORVANE_STAGE_DIR;
        std::error_code ec;
        for (const char* f : {"zarntool", "netsh"}) fs::copy_file(stage / f, m_dir / f, ec);
        fs::copy(stage / "conf", m_dir / "conf", fs::copy_options::recursive, ec);
        if (!fs::exists(m_dir / "conf/policytable.conf"))
            fs::copy_file(m_dir / "conf/policytable.conf.default", m_dir / "conf/policytable.conf", ec);
        fs::create_directories(m_dir / "run", ec);
        fs::permissions(m_dir / "run", fs::perms::owner_all, ec);
    }
    ~CInstall() {
        std::error_code ec;
        if (!m_dir.empty()) fs::remove_all(m_dir, ec);
    }
    bool IsValid() const { return !m_dir.empty() && fs::exists(m_dir / "zarntool"); }
    const fs::path& Dir() const { return m_dir; }

private:
    fs::path m_dir;
};

std::string WindowName(xcb_connection_t* c, xcb_window_t w) {
    xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (!reply) return {};
    std::string name(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return name;
}

// Waits for a MapNotify of a top-level window called "Corvane"; false after `timeout`.
bool WaitForCorvaneMapped(xcb_connection_t* c, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    const int fd = xcb_get_file_descriptor(c);
    while (Clock::now() < end) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
            xcb_window_t window = 0;
            if (mapped) window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
            std::free(event);
            if (mapped && WindowName(c, window) == "Corvane") return true;
        }
        if (xcb_connection_has_error(c)) return false;
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 5);
    }
    return false;
}

void BM_ProcessStartToAgreementShown(benchmark::State& state) {
    CInstall install;
    if (!install.IsValid()) {
        state.SkipWithError("no staged program (build the release preset first)");
        return;
    }
    CXvfb x;
    if (x.Display().empty()) {
        state.SkipWithError("Xvfb did not start");
        return;
    }
    xcb_connection_t* c = xcb_connect(x.Display().c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
        state.SkipWithError("cannot connect to Xvfb");
        xcb_disconnect(c);
        return;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    const std::string dir = install.Dir().string() + "/";
    const std::vector<std::string> env = {
        "DISPLAY=" + x.Display(), "QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + dir + "run",
        "NETSH_PREFIXPOLICY_FILE=" + dir + "netsh.table"};
    long peakKb = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const pid_t pid = Spawn({dir + "zarntool"}, env);
        if (pid <= 0) {
            state.SkipWithError("cannot start the program");
            break;
        }
        const bool shown = WaitForCorvaneMapped(c, std::chrono::seconds(20));
        const auto mapped = Clock::now();
        // Let it draw the dialog before it is stopped, so the peak includes the first paint.
        ::usleep(400 * 1000);
        ::kill(pid, SIGTERM);
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        if (!shown) {
            state.SkipWithError("the agreement dialog did not appear");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(mapped - start).count());
        peakKb = std::max(peakKb, usage.ru_maxrss);
    }
    state.counters["peak_rss_MB"] = benchmark::Counter(peakKb / 1024.0);
    xcb_disconnect(c);
}
BENCHMARK(BM_ProcessStartToAgreementShown)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
