// A child for the boot test: a machine just booted, as far as the address labels go. In private
// mount and network namespaces (a fresh network namespace holds the kernel's built-in labels,
// as after a boot) /etc becomes an overlay whose upper layer holds the given gai.conf; then the
// boot unit's command runs, and the kernel's label table is dumped over rtnetlink.
//
//   bootprobe GAICONF COMMAND [ARGS...]
//
// Prints "command <exit code>", then "label <32 hex digits>/<length> <label>" per kernel entry;
// exits 2 with "failed <step>: <reason>" when a step fails.
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
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

class CFile {
public:
    CFile(const char* path, const char* mode) : m_f(std::fopen(path, mode)) {
        if (!m_f) Fail(std::string("open ") + path);
    }
    ~CFile() { std::fclose(m_f); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    FILE* Get() const { return m_f; }

private:
    FILE* m_f;
};

void CopyFile(const char* from, const char* to) {
    const CFile in(from, "rb");
    const CFile out(to, "wb");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.Get())) > 0;)
        if (std::fwrite(buffer, 1, n, out.Get()) != n) Fail("write gai.conf");
}

// /etc as an overlay: the real /etc below, above it a tmpfs layer holding the test's gai.conf.
// The tmpfs exists only in this mount namespace.
void OverlayEtc(const char* gaiConf) {
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) Fail("unshare");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail("mount / private");
    const std::string layer = "/mnt";
    if (::mount("none", layer.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0) Fail("mount tmpfs");
    for (const char* sub : {"/upper", "/work"})
        if (::mkdir((layer + sub).c_str(), 0755) != 0) Fail(std::string("mkdir ") + sub);
    CopyFile(gaiConf, (layer + "/upper/gai.conf").c_str());
    const std::string options = "lowerdir=/etc,upperdir=" + layer + "/upper,workdir=" + layer + "/work";
    if (::mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0) Fail("mount overlay /etc");
}

int RunCommand(char** argv) {
    // Its own output goes to standard error, apart from the report.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    pid_t pid = 0;
    std::fflush(stdout);
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bootprobe GAICONF COMMAND [ARGS...]\n");
        return 2;
    }
    OverlayEtc(argv[1]);
    std::printf("command %d\n", RunCommand(argv + 2));
    std::vector<addrlabel::CLabel> labels;
    std::string error;
    if (!addrlabel::Dump(labels, &error)) {
        std::printf("failed label dump: %s\n", error.c_str());
        return 2;
    }
    for (const addrlabel::CLabel& l : labels) {
        std::printf("label ");
        for (const std::uint8_t b : l.prefix) std::printf("%02x", b);
        std::printf("/%d %u\n", l.length, l.label);
    }
    return 0;
}
