#pragma once
// Running a console program and capturing what it prints. No shell is ever involved: the
// command line is split into words here and the words are handed to the program as its
// arguments, so characters such as ; $ ` | & < > have no special meaning.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

// Splits a command line into words. Blanks (space and tab) separate words; a double quote
// starts or ends a quoted stretch in which blanks are kept; the quotes themselves are dropped,
// so "" is an empty word. An unterminated quote runs to the end of the line. There is no other
// escape character.
QStringList SplitCommandLine(const QString& commandLine);

// Finds the program a command word names. A word holding "/" names a file path directly.
// Otherwise the program is looked up first in `programDir` (which ends in "/"), then in the
// folders of PATH in order (empty PATH entries, meaning the current folder, are skipped).
// Only executable regular files count. Empty text when nothing is found.
QString FindProgram(const QString& word, const QString& programDir);

// What went wrong in RunCaptured, one value per step of the run.
enum class ERunFailure {
    None,
    Pipe,       // the pipe could not be created
    NullInput,  // the empty standard input (/dev/null) could not be opened
    Spawn,      // the process could not be created
    Read,       // reading the pipe ended with an error
    Close,      // closing the read end failed
};

struct CRunResult {
    ERunFailure failure = ERunFailure::None;
    int error = 0;              // errno of the failing call
    QString failedCall;         // name of the failing POSIX call
    QByteArray output;          // everything the child wrote to the captured streams, in order
    bool limitReached = false;  // the child was stopped for passing a limit of CRunOptions
    bool exited = false;        // the child ended by itself, with exit code `exitCode`
    int exitCode = -1;
};

// How a run is plumbed and bounded; the defaults capture both streams without limits.
struct CRunOptions {
    bool errorToNull = false;    // standard error goes to /dev/null: only standard output is read
    int timeLimitMs = -1;        // the child is killed when it runs longer (negative: no limit)
    qint64 maxOutputBytes = -1;  // ... once it has written more than this (negative: no limit)
};

// Reads of the output pipe never take more than this many bytes at once.
constexpr int kRunReadChunk = 1023;

// Starts `programPath` with the words `arguments` (arguments[0] becomes the child's argv[0]),
// the caller's environment and current folder, standard input from /dev/null, and standard
// output and standard error both on the write end of one pipe, so their interleaving is kept
// (standard error on /dev/null instead with `errorToNull`). Reads the pipe until end of file and
// waits for the child, on every path, so no zombie is left; a child that passes a limit of
// `options` is killed first. The child inherits no descriptor other than 0, 1 and 2, and runs in
// a process group of its own, so that the terminal's Ctrl-C and hang-up go to the caller alone.
CRunResult RunCaptured(const QString& programPath, const QStringList& arguments,
                       const CRunOptions& options = {});

}  // namespace platform
