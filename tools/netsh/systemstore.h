#pragma once
// The system store: the table glibc's getaddrinfo follows by /etc/gai.conf (NETSH_GAI_CONF names
// another file) and the kernel's IPv6 address labels.
//
// A change is one transaction under an exclusive lock on the file's folder: the new rows are
// worked out, the kernel's labels are set to the rows of the new table the kernel can hold, and
// only then is the file replaced (atomically, keeping every line other than the precedence and
// label lines). If the kernel refuses, nothing else is done; if the file cannot be replaced, the
// kernel's previous labels are put back. Either way the output names the part that failed and
// standard error says why.
#include <QList>

#include <functional>
#include <memory>

#include "gaiconf.h"

class CConsoleText;

namespace systemstore {

// The rows glibc follows now (every prefix of its precedence and label tables); false when the
// file cannot be read.
bool Load(QList<gaiconf::CRow>& rows);

// Changes `rows` and gives nullptr, or gives the text that refuses the change.
using CChange = std::function<const char16_t*(QList<gaiconf::CRow>& rows)>;

// Runs one add or delete and prints its result; the exit code. A file without table lines lists
// glibc's built-in rows; a delete starts from them, but an add starts an empty table, so that
// deleting every listed row and adding a new table leaves exactly the new rows.
int Change(CConsoleText& out, const CChange& change, bool addition, bool kernelLabels);

// A run of changes as one transaction (a netsh script): the folder stays locked and the file is
// read once; each change is worked out on the file's text in memory exactly as Change works it
// out on the file, and Commit then sets the kernel's labels and replaces the file once. A single
// Change is a batch of one.
class CBatch {
public:
    CBatch();
    ~CBatch();
    CBatch(const CBatch&) = delete;
    CBatch& operator=(const CBatch&) = delete;

    // The rows glibc would follow once the changes so far are committed.
    QList<gaiconf::CRow> Rows() const;
    // Works out one change: false, with the refusal (or the failure to lock or read the file)
    // printed, when it is not made; true, printing nothing, when it is pending the commit.
    bool Apply(CConsoleText& out, const CChange& change, bool addition);
    // Sets the kernel's labels and replaces the file for every pending change and prints the
    // result ("OK" or the failure) once; the exit code.
    int Commit(CConsoleText& out, bool kernelLabels);

private:
    struct CState;
    std::unique_ptr<CState> m_state;
};

// Sets the kernel's labels from the file as a change does, for a boot; "OK" and nothing done
// when the kernel's labels are not managed.
int LoadKernelLabels(CConsoleText& out, bool kernelLabels);

}  // namespace systemstore
