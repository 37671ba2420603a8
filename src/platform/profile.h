#pragma once
// Initialization (profile) files in the Windows format: "[SECTION]" lines followed by
// "KEY=value" lines, CP932 text.
//
// Reading: section and key names match without regard to case, blanks around names and values
// are ignored, a value enclosed in one pair of double quotes loses them, lines starting with ";"
// are comments, the first of duplicate sections or keys wins, anything else is skipped.
// Writing keeps every other line byte for byte and replaces the file atomically.
#include <QString>

namespace platform {

QString GetProfileString(const QString& path, const QString& section, const QString& key,
                         const QString& defaultValue);

// The value read as a decimal integer (leading blanks, optional sign, digits; no digits gives 0),
// or the default when the key is missing.
int GetProfileInt(const QString& path, const QString& section, const QString& key,
                  int defaultValue);

// Creates the section and the key when missing, replaces the value otherwise.
// False when the file or its folder cannot be written; the file is then unchanged.
bool WriteProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value);

}  // namespace platform
