#include "platform/process.h"

#include <QByteArrayList>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
    void Reap() {
        if (m_pid <= 0) return;
        m_readEnd.Close();
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

private:
    CFd& m_readEnd;
    pid_t m_pid = -1;
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

CRunResult RunCaptured(const QString& programPath, const QStringList& arguments) {
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

    CFd nullInput(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!nullInput.IsValid() || !MoveAboveStdio(nullInput))
        return Fail(ERunFailure::NullInput, "open", errno);

    CSpawnActions actions;
    CSpawnAttr attr;
    if (!actions.Ok() || !attr.Ok()) return Fail(ERunFailure::Spawn, "posix_spawn_init", ENOMEM);
    int rc = ::posix_spawn_file_actions_adddup2(actions.Get(), nullInput.Get(), 0);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.Get(), writeEnd.Get(), 1);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.Get(), writeEnd.Get(), 2);
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
    if (rc == 0) rc = ::posix_spawnattr_setflags(attr.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (rc != 0) return Fail(ERunFailure::Spawn, "posix_spawn_file_actions", rc);

    const QByteArray path = QFile::encodeName(programPath);
    QByteArrayList argBytes;
    argBytes.reserve(arguments.size());
    for (const QString& a : arguments) argBytes.append(QFile::encodeName(a));
    if (argBytes.isEmpty()) argBytes.append(path);
    std::vector<char*> argv;
    argv.reserve(argBytes.size() + 1);
    for (QByteArray& a : argBytes) argv.push_back(a.data());
    argv.push_back(nullptr);

    CChild child(readEnd);
    pid_t pid = -1;
    rc = ::posix_spawn(&pid, path.constData(), actions.Get(), attr.Get(), argv.data(), environ);
    if (rc != 0) return Fail(ERunFailure::Spawn, "posix_spawn", rc);
    child.Set(pid);

    // Only the child keeps the write end open now, so end of file comes when it is done.
    writeEnd.Close();
    nullInput.Close();

    CRunResult result;
    char buffer[kRunReadChunk + 1];
    for (;;) {
        const ssize_t n = ::read(readEnd.Get(), buffer, kRunReadChunk);
        if (n > 0) {
            result.output.append(buffer, n);
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        const int error = errno;
        child.Reap();
        return Fail(ERunFailure::Read, "read", error);
    }
    if (!readEnd.Close()) {
        const int error = errno;
        child.Reap();
        return Fail(ERunFailure::Close, "close", error);
    }
    child.Reap();
    return result;
}

}  // namespace platform
