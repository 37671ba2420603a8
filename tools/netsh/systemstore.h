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

// Sets the kernel's labels from the file as a change does, for a boot; "OK" and nothing done
// when the kernel's labels are not managed.
int LoadKernelLabels(CConsoleText& out, bool kernelLabels);

}  // namespace systemstore
