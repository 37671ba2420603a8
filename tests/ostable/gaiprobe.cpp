// A child for the system-store tests: in private mount and network namespaces it shows glibc a
// folder of its own as /etc, gives the loopback addresses, runs the real netsh on the system
// store, and reports the order getaddrinfo gives and the kernel's address labels.
//
//   gaiprobe DIR NETSH HOST [ARGS... [-- ARGS...]...]
//   gaiprobe full|readonly|mountpoint NETSH ARGS...
//   gaiprobe exec DIR PROGRAM ARGS...
//   gaiprobe query [HOST]
//
// DIR/etc is seen as /etc: it must hold gai.conf and hosts; every other name of the real /etc is
// a link into DIR/real, where the real /etc is bound. Each ARGS group is one netsh run. Prints
// "netsh <exit code> <words>" per run, "address <numeric>" per getaddrinfo result, then
// "label <prefix>/<length> <label>" per kernel entry; exits 2 with a reason when a step fails.
//
// The second form runs netsh once on a gai.conf in a private file system that is full or
// read-only, or that is a mount point of its own (netsh's output then passes through), and prints
// "netsh <exit code>", then "kept" or "changed" for the file and the names of any other files
// left there.
//
// "exec" sets up the namespaces and DIR/etc as the first form does and runs PROGRAM in them;
// "query" prints the addresses and the labels as the first form does, in the caller's namespaces.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/addrlabel.h"

extern char** environ;

namespace {

[[noreturn]] void Fail(const std::string& step) {
    std::printf("failed %s: %s\n", step.c_str(), std::strerror(errno));
    std::exit(2);
}

class CSocketFd {
public:
    explicit CSocketFd(int family) : m_fd(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        if (m_fd < 0) Fail("socket");
    }
    ~CSocketFd() { ::close(m_fd); }
    CSocketFd(const CSocketFd&) = delete;
    CSocketFd& operator=(const CSocketFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// The real /etc stays reachable under DIR/real; DIR/etc, filled with links to it, becomes /etc.
void OwnEtc(const std::string& dir) {
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) Fail("unshare");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail("mount / private");
    const std::string real = dir + "/real";
    const std::string etc = dir + "/etc";
    if (::mkdir(real.c_str(), 0755) != 0 && errno != EEXIST) Fail("mkdir real");
    if (::mount("/etc", real.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) Fail("bind /etc");
    DIR* folder = ::opendir(real.c_str());
    if (!folder) Fail("opendir");
    while (const dirent* e = ::readdir(folder)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string own = etc + "/" + name;
        struct stat st {};
        if (::lstat(own.c_str(), &st) == 0) continue;  // the test's own file
        if (::symlink((real + "/" + name).c_str(), own.c_str()) != 0) Fail("symlink " + name);
    }
    ::closedir(folder);
    if (::mount(etc.c_str(), "/etc", nullptr, MS_BIND, nullptr) != 0) Fail("bind DIR/etc");
}

struct CIn6Ifreq {  // the kernel's in6_ifreq
    in6_addr address;
    std::uint32_t prefixLength;
    int ifindex;
};

void LoopbackAddresses() {
    const CSocketFd v4(AF_INET);
    ifreq up{};
    std::strcpy(up.ifr_name, "lo");
    if (::ioctl(v4.Get(), SIOCGIFFLAGS, &up) != 0) Fail("SIOCGIFFLAGS");
    up.ifr_flags = short(up.ifr_flags | IFF_UP);
    if (::ioctl(v4.Get(), SIOCSIFFLAGS, &up) != 0) Fail("SIOCSIFFLAGS");
    ifreq alias{};
    std::strcpy(alias.ifr_name, "lo:1");
    auto* in = reinterpret_cast<sockaddr_in*>(&alias.ifr_addr);
    in->sin_family = AF_INET;
    ::inet_pton(AF_INET, "192.0.2.1", &in->sin_addr);
    if (::ioctl(v4.Get(), SIOCSIFADDR, &alias) != 0) Fail("SIOCSIFADDR 192.0.2.1");
    ::inet_pton(AF_INET, "255.255.255.0", &in->sin_addr);
    if (::ioctl(v4.Get(), SIOCSIFNETMASK, &alias) != 0) Fail("SIOCSIFNETMASK");
    const CSocketFd v6(AF_INET6);
    for (const char* address : {"2001:db8:1::1", "fd00:1::1"}) {
        CIn6Ifreq request{};
        ::inet_pton(AF_INET6, address, &request.address);
        request.prefixLength = 64;
        request.ifindex = int(::if_nametoindex("lo"));
        if (::ioctl(v6.Get(), SIOCSIFADDR, &request) != 0)
            Fail(std::string("SIOCSIFADDR ") + address);
    }
}

int RunNetsh(const char* netsh, const std::vector<char*>& words, bool showOutput = false) {
    std::vector<char*> argv{const_cast<char*>("netsh")};
    argv.insert(argv.end(), words.begin(), words.end());
    argv.push_back(nullptr);
    // Its text is not ours to print: only the exit code is reported.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (!showOutput)
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, netsh, &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

enum class EFault { Full, ReadOnly, MountPoint };

int FailedWrite(EFault fault, char* netsh, int argc, char** argv) {
    if (::unshare(CLONE_NEWNS) != 0) Fail("unshare");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail("mount / private");
    const std::string dir = "/mnt";  // any folder: the tmpfs exists only in this namespace
    if (::mount("none", dir.c_str(), "tmpfs", 0, "size=64k") != 0) Fail("mount tmpfs");
    const std::string conf = dir + "/gai.conf";
    const std::string before = "# kept\nreload no\nprecedence ::1/128 50\n";
    if (FILE* f = std::fopen(conf.c_str(), "wb")) {
        std::fwrite(before.data(), 1, before.size(), f);
        std::fclose(f);
    }
    if (fault == EFault::MountPoint) {
        // A file of the same content bound over it: the file cannot be renamed over.
        const std::string other = dir + "/filler";
        if (FILE* f = std::fopen(other.c_str(), "wb")) {
            std::fwrite(before.data(), 1, before.size(), f);
            std::fclose(f);
        }
        if (::mount(other.c_str(), conf.c_str(), nullptr, MS_BIND, nullptr) != 0) Fail("bind a file");
    } else if (fault == EFault::Full) {
        FILE* filler = std::fopen((dir + "/filler").c_str(), "wb");
        if (!filler) Fail("filler");
        const std::string block(1024, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    } else if (::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        Fail("remount read-only");
    }
    ::setenv("NETSH_STORE", "system", 1);
    ::setenv("NETSH_GAI_CONF", conf.c_str(), 1);
    ::setenv("NETSH_KERNEL_LABELS", "0", 1);
    std::fflush(stdout);
    const int code = RunNetsh(netsh, std::vector<char*>(argv, argv + argc), fault == EFault::MountPoint);
    std::printf("netsh %d\n", code);
    std::printf("%s\n", Slurp(conf) == before ? "kept" : "changed");
    DIR* folder = ::opendir(dir.c_str());
    while (const dirent* e = folder ? ::readdir(folder) : nullptr) {
        const std::string name = e->d_name;
        if (name != "." && name != ".." && name != "gai.conf" && name != "filler")
            std::printf("left %s\n", name.c_str());
    }
    if (folder) ::closedir(folder);
    return 0;
}


// The addresses getaddrinfo gives for `host` (when given) and the kernel's labels.
int Query(const char* host) {
    if (host) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (const int rc = ::getaddrinfo(host, nullptr, &hints, &found); rc != 0) {
            std::printf("failed getaddrinfo: %s\n", ::gai_strerror(rc));
            return 2;
        }
        for (const addrinfo* a = found; a; a = a->ai_next) {
            char text[INET6_ADDRSTRLEN] = {};
            const void* address =
                a->ai_family == AF_INET6
                    ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr)
                    : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
            ::inet_ntop(a->ai_family, address, text, sizeof text);
            std::printf("address %s\n", text);
        }
        ::freeaddrinfo(found);
    }
    std::vector<addrlabel::CLabel> labels;
    std::string error;
    if (!addrlabel::Dump(labels, &error)) {
        std::printf("failed label dump: %s\n", error.c_str());
        return 2;
    }
    for (const addrlabel::CLabel& l : labels) {
        char text[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, l.prefix.data(), text, sizeof text);
        std::printf("label %s/%d %u\n", text, l.length, l.label);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc > 2 && (mode == "full" || mode == "readonly" || mode == "mountpoint")) {
        const EFault fault = mode == "full"       ? EFault::Full
                             : mode == "readonly" ? EFault::ReadOnly
                                                  : EFault::MountPoint;
        return FailedWrite(fault, argv[2], argc - 3, argv + 3);
    }
    if (mode == "query") return Query(argc > 2 ? argv[2] : nullptr);
    if (mode == "exec" && argc > 3) {
        OwnEtc(argv[2]);
        LoopbackAddresses();
        std::fflush(stdout);
        ::execv(argv[3], argv + 3);
        Fail("execv");
    }
    if (argc < 4) {
        std::printf("usage: gaiprobe DIR NETSH HOST [ARGS... [-- ARGS...]...]\n");
        return 2;
    }
    OwnEtc(argv[1]);
    LoopbackAddresses();
    ::setenv("NETSH_STORE", "system", 1);
    ::unsetenv("NETSH_GAI_CONF");
    ::unsetenv("NETSH_KERNEL_LABELS");
    std::vector<char*> words;
    for (int i = 4; i <= argc; ++i) {
        if (i < argc && std::strcmp(argv[i], "--") != 0) {
            words.push_back(argv[i]);
            continue;
        }
        if (words.empty()) continue;
        std::string line = "netsh " + std::to_string(RunNetsh(argv[2], words));
        for (const char* w : words) line += std::string(" ") + w;
        std::printf("%s\n", line.c_str());
        words.clear();
    }
    std::fflush(stdout);
    return Query(argv[3]);
}
