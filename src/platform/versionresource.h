#pragma once
// The program's own version resource, embedded as a section of the program file. Expand
// CORVANE_EMBED_VERSION_RESOURCE() once, at file scope, in a source of the program itself.
#include "platform/versioninfo.h"

#ifndef CORVANE_FILE_VERSION
#error "CORVANE_FILE_VERSION must be defined by the build"
#endif

// Backslashes are doubled twice: once for C++, once for the assembler's string syntax.
#define CORVANE_VERSION_LINE(key, value) \
    ".ascii \"\\\\StringFileInfo\\\\041104b0\\\\" key "=" value "\\n\"\n"

#define CORVANE_EMBED_VERSION_RESOURCE()                                  \
    __asm__(".pushsection " CORVANE_VERSION_SECTION ",\"a\",@progbits\n" \
            ".ascii \"VS_VERSION_INFO\\n\"\n"                             \
            ".ascii \"\\\\FixedFileInfo\\\\FileVersion=" CORVANE_FILE_VERSION "\\n\"\n" \
            CORVANE_VERSION_LINE("CompanyName", "Corvane")                \
            CORVANE_VERSION_LINE("FileDescription", "Corvane")            \
            CORVANE_VERSION_LINE("FileVersion", CORVANE_FILE_VERSION)     \
            CORVANE_VERSION_LINE("InternalName", "zarntool")              \
            CORVANE_VERSION_LINE("OriginalFilename", "zarntool")          \
            CORVANE_VERSION_LINE("ProductName", "Corvane")                \
            CORVANE_VERSION_LINE("ProductVersion", CORVANE_FILE_VERSION)  \
            ".ascii \"\\\\VarFileInfo\\\\Translation=0x0411 0x04b0\\n\"\n"  \
            ".byte 0\n"                                                   \
            ".popsection\n")
