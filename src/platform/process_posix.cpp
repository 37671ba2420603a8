#include "platform/process.h"

#include <QByteArrayList>
#include <QFile>

#include <algorithm>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <vector>

#include "platform/deadline.h"
#include "platform/fd.h"

extern char** environ;

namespace platform {
namespace {

// Moves a descriptor to 3 or above (keeping close-on-exec), so that placing the pipe and
// /dev/null on 0, 1 and 2 in the child can never collide with them.
bool MoveAboveStdio(CFd& fd) {
    if (fd.Get() > 2) return true;
    const int moved = ::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    fd.Reset(moved);
    return true;
}

class CSpawnActions {
public:
    CSpawnActions() { m_ok = ::posix_spawn_file_actions_init(&m_actions) == 0; }
    ~CSpawnActions() {
        if (m_ok) ::posix_spawn_file_actions_destroy(&m_actions);
    }
    CSpawnActions(const CSpawnActions&) = delete;
    CSpawnActions& operator=(const CSpawnActions&) = delete;
    bool Ok() const { return m_ok; }
    posix_spawn_file_actions_t* Get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions{};
    bool m_ok = false;
};

class CSpawnAttr {
public:
    CSpawnAttr() { m_ok = ::posix_spawnattr_init(&m_attr) == 0; }
    ~CSpawnAttr() {
        if (m_ok) ::posix_spawnattr_destroy(&m_attr);
    }
    CSpawnAttr(const CSpawnAttr&) = delete;
    CSpawnAttr& operator=(const CSpawnAttr&) = delete;
    bool Ok() const { return m_ok; }
    posix_spawnattr_t* Get() { return &m_attr; }

private:
    posix_spawnattr_t m_attr{};
    bool m_ok = false;
};

// Waits for the child when it goes out of scope, after closing the read end of its pipe, so
// that a child still writing gets a broken pipe instead of blocking forever.
class CChild {
public:
    explicit CChild(CFd& readEnd) : m_readEnd(readEnd) {}
    ~CChild() { Reap(); }
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;
    void Set(pid_t pid) { m_pid = pid; }
    void Kill() {
        if (m_pid > 0) ::kill(m_pid, SIGKILL);
    }
    // Waits for the child to end. With a deadline, a child still running when it passes (one
    // that closed its output and went on) is killed; false then.
    bool Reap(const CDeadline* deadline = nullptr) {
        if (m_pid <= 0) return true;
        m_readEnd.Close();
        const bool inTime = deadline == nullptr || AwaitBy(*deadline);
        if (!inTime) Kill();
        int status = 0;
        pid_t reaped;
        do {
            reaped = ::waitpid(m_pid, &status, 0);
        } while (reaped < 0 && errno == EINTR);
        m_exited = reaped == m_pid && WIFEXITED(status);
        m_pid = -1;
        m_exitCode = m_exited ? WEXITSTATUS(status) : -1;
        return inTime;
    }
    bool Exited() const { return m_exited; }
    int ExitCode() const { return m_exitCode; }

private:
    // True once the child has ended (it is left for waitpid to collect), false when the deadline
    // passed first. Looks every few milliseconds: the end of a child cannot be waited for
    // together with a time limit.
    bool AwaitBy(const CDeadline& deadline) const {
        for (;;) {
            siginfo_t info{};
            if (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == m_pid)
                return true;
            const int left = deadline.RemainingMs();
            if (left == 0) return false;
            const timespec pause{0, long(std::min(left, 5)) * 1000000L};
            ::nanosleep(&pause, nullptr);
        }
    }

    CFd& m_readEnd;
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_exitCode = -1;
};

bool IsExecutableFile(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) return false;
    return ::access(path.constData(), X_OK) == 0;
}

CRunResult Fail(ERunFailure failure, const char* call, int error) {
    CRunResult result;
    result.failure = failure;
    result.failedCall = QString::fromLatin1(call);
    result.error = error;
    return result;
}

// Sets the child's descriptors and signals up: standard input from `input`, standard output
// (and standard error unless `errorToNull`) on `output`; 0 or the error number.
int PrepareSpawn(CSpawnActions& actions, CSpawnAttr& attr, int input, int output,
                 bool errorToNull) {
    int rc = ::posix_spawn_file_actions_adddup2(actions.Get(), input, 0);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.Get(), output, 1);
    const int errorEnd = errorToNull ? input : output;
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.Get(), errorEnd, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors the caller opened without close-on-exec are not handed on either.
    if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(actions.Get(), 3);
#endif
    // The child starts with default signal handling and nothing blocked, whatever the caller
    // has set up for itself (an ignored SIGPIPE, for example).
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    if (rc == 0) rc = ::posix_spawnattr_setsigmask(attr.Get(), &none);
    if (rc == 0) rc = ::posix_spawnattr_setsigdefault(attr.Get(), &all);
    // A process group of its own: Ctrl-C or a hang-up of the terminal reaches the program, which
    // lets the running command finish, instead of cutting that command (or a restore's) short.
    if (rc == 0) rc = ::posix_spawnattr_setpgroup(attr.Get(), 0);
    const short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
    if (rc == 0) rc = ::posix_spawnattr_setflags(attr.Get(), flags);
    return rc;
}

// The argument vector for posix_spawn over `storage`, which must outlive it.
std::vector<char*> ArgumentVector(QByteArrayList& storage) {
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (QByteArray& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

enum class EReadEnd { EndOfFile, Limit, Failed };

// Reads the pipe until end of file into `output`. With a time limit every read first waits by
// the deadline. Stops at a limit of `options`; on failure `*call` names the call (errno set).
EReadEnd ReadOutput(int fd, const CRunOptions& options, const CDeadline& deadline,
                    QByteArray& output, const char** call) {
    char buffer[kRunReadChunk + 1];
    for (;;) {
        if (options.timeLimitMs >= 0) {
            const int ready = WaitReady(fd, EReady::Read, deadline);
            if (ready == 0) return EReadEnd::Limit;
            if (ready < 0) {
                *call = "poll";
                return EReadEnd::Failed;
            }
        }
        const ssize_t n = ::read(fd, buffer, kRunReadChunk);
        if (n > 0) {
            output.append(buffer, n);
            if (options.maxOutputBytes >= 0 && output.size() > options.maxOutputBytes)
                return EReadEnd::Limit;
            continue;
        }
        if (n == 0) return EReadEnd::EndOfFile;
        *call = "read";
        if (errno != EINTR) return EReadEnd::Failed;
    }
}

// Reads the child's output, stops the child at a limit of `options` and waits for it.
CRunResult Collect(CChild& child, CFd& readEnd, const CRunOptions& options) {
    const CDeadline deadline(options.timeLimitMs);
    CRunResult result;
    const char* call = "read";
    const EReadEnd end = ReadOutput(readEnd.Get(), options, deadline, result.output, &call);
    if (end == EReadEnd::Failed) {
        const int error = errno;
        child.Reap();
        return Fail(ERunFailure::Read, call, error);
    }
    if (end == EReadEnd::Limit) {
        result.limitReached = true;
        child.Kill();
    } else if (!readEnd.Close()) {
        const int error = errno;
        child.Reap();
        return Fail(ERunFailure::Close, "close", error);
    }
    if (!child.Reap(options.timeLimitMs >= 0 ? &deadline : nullptr)) result.limitReached = true;
    result.exited = child.Exited();
    result.exitCode = child.ExitCode();
    return result;
}

}  // namespace

QStringList SplitCommandLine(const QString& commandLine) {
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (const QChar c : commandLine) {
        if (c == u'"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == u' ' || c == u'\t')) {
            if (inWord) {
                words.append(word);
                word.clear();
                inWord = false;
            }
        } else {
            word.append(c);
            inWord = true;
        }
    }
    if (inWord) words.append(word);
    return words;
}

QString FindProgram(const QString& word, const QString& programDir) {
    if (word.isEmpty()) return {};
    if (word.contains(u'/')) return IsExecutableFile(QFile::encodeName(word)) ? word : QString();
    if (!programDir.isEmpty()) {
        QString candidate = programDir;
        if (!candidate.endsWith(u'/')) candidate += u'/';
        candidate += word;
        if (IsExecutableFile(QFile::encodeName(candidate))) return candidate;
    }
    const QByteArray path = qgetenv("PATH");
    for (const QByteArray& dir : path.split(':')) {
        if (dir.isEmpty()) continue;
        QByteArray candidate = dir;
        if (!candidate.endsWith('/')) candidate += '/';
        candidate += QFile::encodeName(word);
        if (IsExecutableFile(candidate)) return QFile::decodeName(candidate);
    }
    return {};
}

CRunResult RunCaptured(const QString& programPath, const QStringList& arguments,
                       const CRunOptions& options) {
    // A NUL would silently cut a word short once it becomes a C string.
    if (programPath.contains(QChar(0))) return Fail(ERunFailure::Spawn, "posix_spawn", EINVAL);
    for (const QString& a : arguments) {
        if (a.contains(QChar(0))) return Fail(ERunFailure::Spawn, "posix_spawn", EINVAL);
    }

    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) return Fail(ERunFailure::Pipe, "pipe2", errno);
    CFd readEnd(ends[0]);
    CFd writeEnd(ends[1]);
    if (!MoveAboveStdio(readEnd) || !MoveAboveStdio(writeEnd))
        return Fail(ERunFailure::Pipe, "fcntl", errno);

    CFd nullDevice(::open("/dev/null", (options.errorToNull ? O_RDWR : O_RDONLY) | O_CLOEXEC));
    if (!nullDevice.IsValid() || !MoveAboveStdio(nullDevice))
        return Fail(ERunFailure::NullInput, "open", errno);

    CSpawnActions actions;
    CSpawnAttr attr;
    if (!actions.Ok() || !attr.Ok()) return Fail(ERunFailure::Spawn, "posix_spawn_init", ENOMEM);
    if (const int rc =
            PrepareSpawn(actions, attr, nullDevice.Get(), writeEnd.Get(), options.errorToNull))
        return Fail(ERunFailure::Spawn, "posix_spawn_file_actions", rc);

    const QByteArray path = QFile::encodeName(programPath);
    QByteArrayList argBytes;
    argBytes.reserve(arguments.size());
    for (const QString& a : arguments) argBytes.append(QFile::encodeName(a));
    if (argBytes.isEmpty()) argBytes.append(path);
    const std::vector<char*> argv = ArgumentVector(argBytes);

    CChild child(readEnd);
    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, path.constData(), actions.Get(), attr.Get(), argv.data(), environ);
    if (rc != 0) return Fail(ERunFailure::Spawn, "posix_spawn", rc);
    child.Set(pid);

    // Only the child keeps the write end open now, so end of file comes when it is done.
    writeEnd.Close();
    nullDevice.Close();
    return Collect(child, readEnd, options);
}

}  // namespace platform
