#pragma once
// The version resource of a program file. On this platform it is a dedicated ELF section,
// CORVANE_VERSION_SECTION, holding the resource as UTF-8 text: the line "VS_VERSION_INFO"
// followed by one line "<value path>=<value>" per entry, for example
// "\StringFileInfo\041104b0\FileVersion=1.1.0.0"; a NUL byte ends it. The three functions
// answer like GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW.
#include <QByteArray>
#include <QString>

class QIODevice;

#define CORVANE_VERSION_SECTION ".corvane.version"

namespace verinfo {

// Largest version resource read (the Windows structure has a 16-bit length).
constexpr qint64 kMaxResourceBytes = 65535;

// Size in bytes of the version resource of `path`; 0 when the file has none, is no ELF file,
// is damaged or cannot be read.
qint64 GetFileVersionInfoSize(const QString& path);

// Reads the version resource of `path` into `data`; false when there is none.
bool GetFileVersionInfo(const QString& path, QByteArray* data);
// The same for a program file's bytes behind an open, seekable device.
bool GetFileVersionInfo(QIODevice& device, QByteArray* data);

// Looks up `subBlock` (a value path, compared without regard to case) in a resource read by
// GetFileVersionInfo; false when the entry is missing.
bool VerQueryValue(const QByteArray& data, const QString& subBlock, QString* value);

}  // namespace verinfo
