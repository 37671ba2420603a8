#include "systemstore.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/addrlabel.h"
#include "platform/fd.h"
#include "platform/fileutil.h"
#include "texts.h"

namespace systemstore {
namespace {

using namespace netshtext;

// The part of the system a failure is in, as the output names it.
enum class EPart { File, Kernel };

// The file a change replaces: a symbolic link's final target, so that the link is written
// through; the path itself when nothing exists there yet.
QByteArray GaiConfTarget() {
    QByteArray path = qgetenv("NETSH_GAI_CONF");
    if (path.isEmpty()) path = "/etc/gai.conf";
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.constData(), nullptr), &std::free);
    if (resolved) return QByteArray(resolved.get());
    const QFileInfo info(QFile::decodeName(path));
    if (info.isSymLink()) return QFile::encodeName(info.symLinkTarget());
    return path;
}

QByteArray FolderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

// A missing file is an empty one: glibc then uses its built-in tables. 0, else errno.
int ReadGaiConf(const QByteArray& path, QByteArray& file) {
    file.clear();
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return errno == ENOENT ? 0 : errno;
    errno = 0;
    if (platform::ReadWholeFile(QFile::decodeName(path), &file)) return 0;
    return errno != 0 ? errno : EIO;
}

// Replaces the file atomically: a temporary file in the same folder with the old file's mode and
// owner, flushed to disk, renamed over it. 0, else errno and the step in `step`; the temporary
// file is then removed and the old file stays as it was. The file is never written in place,
// not even when it is a mount point that cannot be renamed over (EBUSY, EXDEV).
int WriteGaiConf(const QByteArray& path, const QByteArray& bytes, const char** step) {
    struct stat old {};
    const bool existed = ::stat(path.constData(), &old) == 0;
    const qsizetype slash = path.lastIndexOf('/');
    QByteArray temp = path.left(slash + 1) + '.' + path.mid(slash + 1) + ".XXXXXX";
    *step = "create";
    platform::CFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0) return errno;
    int error = 0;
    *step = "write";
    for (qsizetype done = 0; error == 0 && done < bytes.size();) {
        const ssize_t n = ::write(fd.Get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) error = n < 0 ? errno : ENOSPC;
        done += n > 0 ? n : 0;
    }
    auto check = [&error, step](bool ok, const char* name) {
        if (error == 0 && !ok) {
            error = errno != 0 ? errno : EIO;
            *step = name;
        }
    };
    errno = 0;
    check(::fchmod(fd.Get(), existed ? (old.st_mode & 07777) : 0644) == 0, "chmod");
    if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
        check(::fchown(fd.Get(), old.st_uid, old.st_gid) == 0, "chown");
    check(::fsync(fd.Get()) == 0, "fsync");
    check(fd.Close(), "close");
    if (error == 0) check(::rename(temp.constData(), path.constData()) == 0, "rename");
    if (error != 0) ::unlink(temp.constData());
    return error;
}

// Holds an exclusive flock on the folder of the file for the lifetime of the change: the file
// itself is replaced by every change, and the folder (/etc) should not gain a lock file.
class CFolderLock {
public:
    explicit CFolderLock(const QByteArray& path) : m_fd(::open(FolderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        m_error = m_fd.IsValid() ? 0 : errno;
        while (m_fd.IsValid() && ::flock(m_fd.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_error = errno;
                m_fd.Close();
            }
        }
    }
    int Error() const { return m_error; }  // 0 while held

private:
    platform::CFd m_fd;
    int m_error = 0;
};

// The output of a failure: access denied only for a refused permission, else the general
// failure text; then the part that failed, as the output names it.
int PrintFailure(CConsoleText& out, EPart part, int error, const QByteArray& path, const QString& why = QString()) {
    out.Line(QString::fromUtf16(error == EPERM || error == EACCES ? kAccessDenied : kGeneralFailure));
    QString subject = part == EPart::Kernel ? QStringLiteral("カーネルのアドレス ラベル") : QFile::decodeName(path);
    if (!why.isEmpty()) subject += QStringLiteral(" (") + why + u')';
    out.Line(QStringLiteral("変更できなかった部分: ") + subject);
    out.Line();
    return 1;
}

// The kernel's entries for the table glibc follows by `file`: its rows the kernel can hold.
std::vector<addrlabel::CLabel> KernelLabels(const QByteArray& file) {
    std::vector<addrlabel::CLabel> labels;
    for (const gaiconf::CRow& r : gaiconf::EffectiveTable(file)) {
        if (!addrlabel::Holds(r.address, r.length)) continue;
        addrlabel::CLabel l;
        l.prefix = r.address;
        l.length = r.length;
        l.label = r.label;
        labels.push_back(l);
    }
    return labels;
}

// The kernel part, then the file: the kernel's labels set for `rewritten`, then the file replaced
// when it changes; the kernel's previous labels put back if the file cannot be replaced.
int Commit(CConsoleText& out, const QByteArray& path, const QByteArray& file, const QByteArray& rewritten, bool kernelLabels) {
    std::vector<addrlabel::CLabel> previous;
    std::string error;
    int code = 0;
    if (kernelLabels) {
        const bool dumped = addrlabel::Dump(previous, &error, &code);
        if (!dumped || !addrlabel::Replace(KernelLabels(rewritten), &error, &code)) {
            std::string undo;
            if (dumped && !addrlabel::Replace(previous, &undo))
                std::fprintf(stderr, "netsh: the kernel's previous address labels were not put back: %s\n", undo.c_str());
            std::fprintf(stderr, "netsh: the kernel's address labels were not set, %s left as it was: %s\n",
                         path.constData(), error.c_str());
            return PrintFailure(out, EPart::Kernel, code, path);
        }
    }
    const char* step = "";
    const int written = rewritten == file ? 0 : WriteGaiConf(path, rewritten, &step);
    if (written == 0) {
        PrintMessage(out, kOk);
        return 0;
    }
    std::string undo;
    if (kernelLabels && !addrlabel::Replace(previous, &undo))
        std::fprintf(stderr, "netsh: the kernel's previous address labels were not put back: %s\n", undo.c_str());
    const bool mountPoint = std::strcmp(step, "rename") == 0 && (written == EBUSY || written == EXDEV);
    std::fprintf(stderr, "netsh: %s was not replaced%s (%s: %s); nothing was changed\n", path.constData(),
                 mountPoint ? ": it is a mount point, which cannot be renamed over" : "", step, std::strerror(written));
    return PrintFailure(out, EPart::File, mountPoint ? EBUSY : written, path,
                        mountPoint ? QStringLiteral("マウント ポイントのため置き換えられません") : QString());
}

}  // namespace

bool Load(QList<gaiconf::CRow>& rows) {
    QByteArray file;
    const bool read = ReadGaiConf(GaiConfTarget(), file) == 0;
    rows = read ? gaiconf::EffectiveTable(file) : QList<gaiconf::CRow>();
    return read;
}

struct CBatch::CState {
    QByteArray path = GaiConfTarget();
    CFolderLock lock{path};
    int error = 0;       // errno of locking or reading the file; 0 when both worked
    QByteArray file;     // as read
    QByteArray current;  // with the changes so far
    bool pending = false;
};

CBatch::CBatch() : m_state(std::make_unique<CState>()) {
    CState& s = *m_state;
    s.error = s.lock.Error();
    if (s.error != 0) {
        std::fprintf(stderr, "netsh: the folder of %s was not locked: %s\n", s.path.constData(), std::strerror(s.error));
        return;
    }
    s.error = ReadGaiConf(s.path, s.file);
    if (s.error != 0) std::fprintf(stderr, "netsh: %s was not read: %s\n", s.path.constData(), std::strerror(s.error));
    s.current = s.file;
}

CBatch::~CBatch() = default;

QList<gaiconf::CRow> CBatch::Rows() const { return gaiconf::EffectiveTable(m_state->current); }

bool CBatch::Apply(CConsoleText& out, const CChange& change, bool addition) {
    CState& s = *m_state;
    if (s.error != 0) {
        PrintFailure(out, EPart::File, s.error, s.path);
        return false;
    }
    QList<gaiconf::CRow> rows;
    if (!addition || gaiconf::HasTableLines(s.current)) rows = gaiconf::EffectiveTable(s.current);
    // The "::/0" row glibc adds (40, 1) is not written out: it is neither in the way of an add
    // nor kept after a delete, and glibc adds it again.
    // Deleting it changes nothing, so the file is left as it is (a file without table lines
    // would otherwise gain glibc's other built-in rows).
    const auto implied = [](const gaiconf::CRow& r) { return !r.named && r.length == 0; };
    if (addition) rows.removeIf(implied);
    const auto impliedBefore = std::count_if(rows.begin(), rows.end(), implied);
    if (const char16_t* refusal = change(rows)) {
        PrintMessage(out, refusal);
        return false;
    }
    const bool impliedDeleted = std::count_if(rows.begin(), rows.end(), implied) < impliedBefore;
    rows.removeIf(implied);
    // Written in the order netsh lists them (highest precedence first, ties as they were), so
    // that deleting the listed rows and adding them again in that order gives the same file.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const gaiconf::CRow& a, const gaiconf::CRow& b) { return a.precedence > b.precedence; });
    for (const gaiconf::CRow& r : rows) {
        if (r.precedence > gaiconf::kMaxValue || r.label > gaiconf::kMaxValue) {
            PrintMessage(out, kBadParameter);
            return false;
        }
    }
    if (!impliedDeleted) s.current = gaiconf::Rewrite(s.current, rows);
    s.pending = true;
    return true;
}

int CBatch::Commit(CConsoleText& out, bool kernelLabels) {
    CState& s = *m_state;
    if (!s.pending) return 0;
    s.pending = false;
    const int rc = systemstore::Commit(out, s.path, s.file, s.current, kernelLabels);
    // After a failure the file is as it was read; further changes start from it again.
    if (rc == 0)
        s.file = s.current;
    else
        s.current = s.file;
    return rc;
}

int Change(CConsoleText& out, const CChange& change, bool addition, bool kernelLabels) {
    CBatch batch;
    if (!batch.Apply(out, change, addition)) return 1;
    return batch.Commit(out, kernelLabels);
}

int LoadKernelLabels(CConsoleText& out, bool kernelLabels) {
    if (!kernelLabels) {
        std::fprintf(stderr, "netsh: the kernel's address labels are not managed here (kernel_labels=no); nothing to load\n");
        PrintMessage(out, kOk);
        return 0;
    }
    const QByteArray path = GaiConfTarget();
    const CFolderLock lock(path);
    if (lock.Error() != 0) {
        std::fprintf(stderr, "netsh: the folder of %s was not locked: %s\n", path.constData(), std::strerror(lock.Error()));
        return PrintFailure(out, EPart::File, lock.Error(), path);
    }
    QByteArray file;
    if (const int error = ReadGaiConf(path, file); error != 0) {
        std::fprintf(stderr, "netsh: %s was not read: %s\n", path.constData(), std::strerror(error));
        return PrintFailure(out, EPart::File, error, path);
    }
    return Commit(out, path, file, file, true);
}

}  // namespace systemstore
