#pragma once
// The program's own file.
#include <QString>

namespace platform {

// Full path of the running program file; empty when it cannot be obtained.
QString ProgramFilePath();

// Folder of the program file ending in "/", or empty when the path cannot be obtained.
QString ProgramDirectory();

// File name of the program without folder and extension ("zarntool").
QString ProgramName();

}  // namespace platform
