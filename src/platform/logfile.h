#pragma once
// A log file that stays open between lines. Each line is appended whole with one write() on a
// descriptor opened for appending, so lines of several threads or processes never mix, and
// nothing waits in the program: a line is in the file when Append returns.
//
// Before each line the path is looked at again (one stat(), about a third of what opening and
// closing the file per line cost): when it names another file than the one held (the log was
// renamed away or removed by an administrator, or replaced), or the file's owner or permissions
// changed, the file is opened again, with the refusals of AppendToFile. So every line goes to
// the file the path names when the line is written, a rotated log is followed at once, and a
// log made read-only refuses the next line.
#include <QByteArray>
#include <QString>
#include <mutex>

#include "platform/fd.h"

namespace platform {

class CLogFile {
public:
    CLogFile() = default;
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Appends `line` (one whole line, its line end included) to the file at `path`, creating it
    // when missing. False when the file cannot be opened for appending (see AppendToFile) or
    // the line did not get in whole. Any thread may call it.
    bool Append(const QString& path, const QByteArray& line);

private:
    // What the path named when the file was opened.
    struct CIdentity {
        unsigned long long device = 0;
        unsigned long long inode = 0;
        unsigned mode = 0;
        unsigned owner = 0;
        unsigned group = 0;
        bool operator==(const CIdentity&) const = default;
    };

    bool StillNamesTheFile(const QString& path) const;
    void Open(const QString& path);

    std::mutex m_mutex;  // guards everything below
    CFd m_fd;
    QString m_path;
    QByteArray m_nativePath;
    CIdentity m_identity;
};

}  // namespace platform
