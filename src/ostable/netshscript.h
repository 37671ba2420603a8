#pragma once
// A netsh script: the change commands of a registration written to a file that one netsh process
// runs (`netsh -f FILE`), and that process's output split back into each command's output.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ostable {

// The file's text: one line per command, each command line without its first word (the
// program), with CR LF ends, in CP932 as the system reads a script. Every word of a line must
// already be one word on a command line (IsSingleWord).
QByteArray ScriptText(const QStringList& commandLines);

// The outputs of the script's `count` commands, in order. The Linux stand-in ends each with the
// line "# end of line N, exit code C"; Windows' netsh prints no such line, and there each output
// is taken to end at its first empty line, as the output of every add and delete does. A
// command that printed nothing before the output ended gets an empty output, which is no "OK".
QStringList SplitScriptOutput(const QString& output, qsizetype count);

}  // namespace ostable
