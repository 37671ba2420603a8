#pragma once
// Conversion between program text (UTF-16) and the Japanese ANSI code page (CP932),
// the encoding of every text file, command output and HTTP body the program handles.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace platform {

// Converts a whole CP932 buffer. Each invalid byte (a lead byte without its trail byte included)
// becomes U+FFFD and the bytes after it are read on; a NUL byte is kept.
QString FromCp932(QByteArrayView bytes);

// Converts text to CP932. A character with no CP932 form is written as "?".
QByteArray ToCp932(QStringView text);

}  // namespace platform
