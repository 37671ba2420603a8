// A small program the command-runner tests start as a real child process.
//
//   testcmd bytes N            N bytes "abc...z" repeated on standard output, one write each 100
//   testcmd alternate N        "out<i>\n" on standard output, then "err<i>\n" on standard error, N times
//   testcmd silent             prints nothing
//   testcmd exit CODE [TEXT]   prints TEXT and exits with CODE
//   testcmd args WORDS...      every argument (argv[0] included) as "[word]" on its own line
//   testcmd fds                the open descriptors, blank separated
//   testcmd stdin              where standard input points and how many bytes it gave
//   testcmd cp932 N            N bytes "a" then the CP932 bytes of 日本語
//   testcmd file PATH          the bytes of PATH as they are
//   testcmd sigign             the "SigIgn:" line of its own /proc status
//   testcmd hang               prints nothing and sleeps a minute
//   testcmd detach             closes standard output and error, then sleeps a minute
//
// When started under the name "netsh" it prints the file named by TESTCMD_NETSH_OUTPUT and
// appends its arguments to TESTCMD_NETSH_ARGS, so tests can script what the system prints.
// With TESTCMD_NETSH_FORWARD it runs that program (the real stand-in) with its arguments
// instead, except for the change command numbered TESTCMD_NETSH_FAIL_AT (counted from 1 in
// the file TESTCMD_NETSH_COUNTER), which fails without running it. TESTCMD_NETSH_WORDS names a
// file that gets each run's arguments as one line, separated by tabs. "K~" as TESTCMD_NETSH_FAIL_AT
// passes over the K-th change command and prints "OK", as a system that drops it would. TESTCMD_NETSH_DELAY_MS
// makes every run wait that long first, like a slow system command.
// "netsh -f FILE" (or "exec FILE") takes each line of FILE as one run of the above, in order, and
// prints each run's output followed by "# end of line N, exit code C", as the stand-in does.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= size_t(n);
    }
}

void Write(int fd, const std::string& s) { WriteAll(fd, s.data(), s.size()); }

std::string ReadFileBytes(const char* path) {
    std::string out;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    ::close(fd);
    return out;
}

// Appends the arguments after argv[0] as one line, joined by `separator`, to the file named by
// the environment variable `name`, when it is set.
void AppendArguments(const char* name, const char* separator, int argc, char** argv) {
    const char* path = std::getenv(name);
    if (!path) return;
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    std::string line;
    for (int i = 1; i < argc; ++i) line += std::string(i > 1 ? separator : "") + argv[i];
    Write(fd, line + "\n");
    ::close(fd);
}

// Runs `program` with `argv`, its standard output collected in `out`; its exit code.
int RunChild(const char* program, char** argv, std::string& out) {
    int fds[2];
    if (::pipe(fds) != 0) return 127;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execv(program, argv);
        ::_exit(127);
    }
    ::close(fds[1]);
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}

// One run: its output appended to `out`; its exit code. `argv` ends with a null pointer.
int FakeRun(int argc, char** argv, std::string& out) {
    if (const char* delay = std::getenv("TESTCMD_NETSH_DELAY_MS")) {
        const long ms = std::strtol(delay, nullptr, 10);
        timespec pause{ms / 1000, (ms % 1000) * 1000000};
        while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
    }
    AppendArguments("TESTCMD_NETSH_ARGS", " ", argc, argv);
    AppendArguments("TESTCMD_NETSH_WORDS", "\t", argc, argv);
    if (const char* forward = std::getenv("TESTCMD_NETSH_FORWARD")) {
        const bool isChange = argc > 3 && std::strcmp(argv[3], "show") != 0;
        const char* counter = std::getenv("TESTCMD_NETSH_COUNTER");
        const char* failAt = std::getenv("TESTCMD_NETSH_FAIL_AT");
        if (isChange && counter && failAt) {
            const long n = std::strtol(ReadFileBytes(counter).c_str(), nullptr, 10) + 1;
            const int fd = ::open(counter, O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                Write(fd, std::to_string(n));
                ::close(fd);
            }
            // "K" fails the K-th change command, "K+" that one and every later one.
            const long k = std::strtol(failAt, nullptr, 10);
            if (n == k && std::strchr(failAt, '~')) {
                out += "OK\r\n\r\n";
                return 0;
            }
            if (n == k || (n > k && std::strchr(failAt, '+'))) {
                out += "injected failure\r\n";
                return 1;
            }
        }
        argv[0] = const_cast<char*>(forward);
        return RunChild(forward, argv, out);
    }
    const char* output = std::getenv("TESTCMD_NETSH_OUTPUT");
    if (!output) return 1;
    // "show" prints the file; any other command prints the file named by
    // TESTCMD_NETSH_CHANGE_OUTPUT when given.
    const char* change = std::getenv("TESTCMD_NETSH_CHANGE_OUTPUT");
    const bool isShow = argc > 3 && std::strcmp(argv[3], "show") == 0;
    out += ReadFileBytes(!isShow && change ? change : output);
    return 0;
}

int FakeNetsh(int argc, char** argv) {
    const bool script = argc == 3 && (std::strcmp(argv[1], "-f") == 0 || std::strcmp(argv[1], "exec") == 0);
    if (!script) {
        std::string out;
        const int code = FakeRun(argc, argv, out);
        Write(1, out);
        return code;
    }
    const std::string text = ReadFileBytes(argv[2]);
    int failed = 0;
    size_t at = 0;
    for (int line = 1; at < text.size(); ++line) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string words = text.substr(at, end - at);
        at = end + 1;
        std::vector<std::string> owned{argv[0]};
        for (size_t w = 0; w < words.size();) {
            const size_t stop = words.find_first_of(" \r", w);
            const size_t to = stop == std::string::npos ? words.size() : stop;
            if (to > w) owned.push_back(words.substr(w, to - w));
            w = to + 1;
        }
        if (owned.size() == 1 || owned[1][0] == '#') continue;
        std::vector<char*> args;
        for (std::string& w : owned) args.push_back(w.data());
        args.push_back(nullptr);
        std::string out;
        const int code = FakeRun(int(owned.size()), args.data(), out);
        failed |= code != 0;
        Write(1, out + "# end of line " + std::to_string(line) + ", exit code " + std::to_string(code) + "\r\n");
    }
    return failed;
}

}  // namespace

int main(int argc, char** argv) {
    const char* base = std::strrchr(argv[0], '/');
    base = base ? base + 1 : argv[0];
    if (std::strcmp(base, "netsh") == 0) return FakeNetsh(argc, argv);
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    if (mode == "bytes" && argc > 2) {
        const long n = std::strtol(argv[2], nullptr, 10);
        std::string chunk;
        for (long i = 0; i < n; ++i) {
            chunk += char('a' + i % 26);
            if (chunk.size() == 100) {
                Write(1, chunk);
                chunk.clear();
            }
        }
        Write(1, chunk);
        return 0;
    }
    if (mode == "alternate" && argc > 2) {
        const long n = std::strtol(argv[2], nullptr, 10);
        for (long i = 0; i < n; ++i) {
            Write(1, "out" + std::to_string(i) + "\n");
            Write(2, "err" + std::to_string(i) + "\n");
        }
        return 0;
    }
    if (mode == "silent") return 0;
    if (mode == "exit" && argc > 2) {
        if (argc > 3) Write(1, argv[3]);
        return int(std::strtol(argv[2], nullptr, 10));
    }
    if (mode == "args") {
        for (int i = 0; i < argc; ++i) Write(1, std::string("[") + argv[i] + "]\n");
        return 0;
    }
    if (mode == "fds") {
        DIR* dir = ::opendir("/proc/self/fd");
        if (!dir) return 1;
        const int own = ::dirfd(dir);
        std::string list;
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            if (std::atoi(e->d_name) == own) continue;
            list += std::string(list.empty() ? "" : " ") + e->d_name;
        }
        ::closedir(dir);
        Write(1, list + "\n");
        return 0;
    }
    if (mode == "stdin") {
        char target[256] = {};
        const ssize_t len = ::readlink("/proc/self/fd/0", target, sizeof target - 1);
        if (len < 0) std::strcpy(target, "(none)");
        char buf[64];
        long total = 0;
        for (;;) {
            const ssize_t n = ::read(0, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            total += n;
        }
        Write(1, std::string(target) + " " + std::to_string(total) + "\n");
        return 0;
    }
    if (mode == "cp932" && argc > 2) {
        const long n = std::strtol(argv[2], nullptr, 10);
        Write(1, std::string(size_t(n), 'a') + "\x93\xfa\x96\x7b\x8c\xea");
        return 0;
    }
    if (mode == "sigign") {
        const std::string status = ReadFileBytes("/proc/self/status");
        const size_t at = status.find("SigIgn:");
        if (at == std::string::npos) return 1;
        Write(1, status.substr(at, status.find('\n', at) - at + 1));
        return 0;
    }
    if (mode == "hang" || mode == "detach") {
        if (mode == "detach") {
            ::close(1);
            ::close(2);
        }
        ::sleep(60);
        return 0;
    }
    if (mode == "file" && argc > 2) {
        Write(1, ReadFileBytes(argv[2]));
        return 0;
    }
    return 2;
}
