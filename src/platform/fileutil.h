#pragma once
// File helpers shared by every writer of the program: existence checks, atomic replacement and
// appending.
#include <QByteArray>
#include <QString>

#include "platform/regularfile.h"

class QFile;

namespace platform {

// True when standard error goes to a terminal (not a file or a pipe).
bool StandardErrorIsTerminal();

bool FileExists(const QString& path);       // a regular file (or anything that is not a folder)
bool DirectoryExists(const QString& path);

// True when the path may be written as Windows would allow it: an existing file must not be
// read-only and its folder must not be read-only. The permission bits are checked even for root,
// who could otherwise write anything, so that a read-only file refuses writes for every user.
bool IsWritableTarget(const QString& path);

// Writes data to a temporary file in the same folder and renames it over the path, so that a
// failed write never destroys the previous content. The existing file's permissions are kept;
// a link is followed to the file it names. A path that holds anything but a regular file (a
// FIFO, a device) is refused and left as it is. With `durable`, the folder is flushed after the
// rename too: when it returns true, the new content survives a crash or a power cut.
bool WriteFileAtomic(const QString& path, const QByteArray& data, bool durable = false);

// Makes the folder `path` (its parent must exist) when it is missing, mode 0755, and flushes the
// parent so that the new folder survives a power cut. True when `path` is a folder now.
bool MakeFolderDurable(const QString& path);
// Removes a file and flushes its folder, so that the removal survives a power cut. True when the
// file is gone (also when it was not there).
bool RemoveFileDurable(const QString& path);
// Renames a file within its folder and flushes the folder; a file already named `to` is never
// replaced (false).
bool RenameFileDurable(const QString& from, const QString& to);

// Appends data to the end of a file with one write() on a descriptor opened for appending,
// creating the file when missing; the file is closed again before returning. A write that is cut
// short (a full disk, a file size limit) is taken back, so the data is in the file whole or not
// at all. An existing read-only file, or a missing file in a read-only folder, refuses
// (permission bits checked even for root); so does anything that is not a regular file.
bool AppendToFile(const QString& path, const QByteArray& data);

// Reads a whole regular file; false when it cannot be opened or read (a folder, a FIFO or a
// device is refused at once, without blocking).
bool ReadWholeFile(const QString& path, QByteArray* data);

// OpenRegularFile for a path given as text.
CFd OpenRegularFile(const QString& path, int flags, unsigned mode = 0666,
                    CFileStatus* info = nullptr);

// Opens a regular file for reading into `file` (which then owns the descriptor); false for
// anything else, without blocking.
bool OpenRegularForReading(QFile& file, const QString& path);

}  // namespace platform
