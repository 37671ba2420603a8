#pragma once
// Initialization (profile) files in the Windows format: "[SECTION]" lines followed by
// "KEY=value" lines, CP932 text.
//
// Reading: section and key names match without regard to case, blanks (ASCII white space) around
// names and values are ignored, a value enclosed in one pair of double quotes loses them, lines
// starting with ";" are comments, the first of duplicate sections or keys wins, anything else
// (junk, binary bytes, keys before the first section) is skipped. Bytes that are not valid CP932
// read as U+FFFD. Lines may end in CR LF or LF; their length is not limited.
// Writing keeps every other line byte for byte and replaces the file atomically.
#include <QString>

namespace platform {

QString GetProfileString(const QString& path, const QString& section, const QString& key,
                         const QString& defaultValue);

// The value read as a decimal integer (optional sign, then digits up to the first other character;
// no digits gives 0; beyond the range of int it saturates), or the default when the key is
// missing or its value is empty.
int GetProfileInt(const QString& path, const QString& section, const QString& key,
                  int defaultValue);

// Creates the section and the key when missing (new lines end in CR LF), replaces the value
// otherwise, keeping the key as spelled in the file. False when the file or its folder cannot be
// written, or when the section, key or value could not be read back as written (a line break
// anywhere, "]" in the section, "=" in the key, blanks around either); the file is then unchanged.
bool WriteProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value);

}  // namespace platform
