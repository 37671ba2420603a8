#pragma once
// Opening a file that must be a regular file, without ever blocking in open(): a FIFO or a
// device put in a file's place would otherwise stop the program before any window. Free of Qt,
// so the helper programs can use it too.
#include "platform/fd.h"

namespace platform {

// What OpenRegularFile tells about the file it opened.
struct CFileStatus {
    unsigned permissions = 0;  // the mode's permission bits (07777)
};

// Opens `path` with the open() `flags` (plus O_NONBLOCK, O_CLOEXEC and O_NOCTTY) and `mode` for a
// file it creates, checks on the opened descriptor that it is a regular file (a link to one
// counts), then makes the descriptor blocking again. Anything else is closed at once and refused
// with errno EISDIR for a folder, ENXIO for a FIFO, socket or device; an open that fails keeps the
// error of open() (a FIFO without reader opened for writing gives ENXIO too). `info`, when
// given, receives the status of the opened file.
CFd OpenRegularFile(const char* path, int flags, unsigned mode = 0666, CFileStatus* info = nullptr);

}  // namespace platform
