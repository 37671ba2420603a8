#pragma once
// The export file of the export command (main window and corvane): its name from the local
// time and its bytes from the two diagnostic snapshot blocks.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

namespace exportfile {

// "%Y%m%d-%H%M%S.dat" of the given local time, for example 20111005-142233.dat.
QString FileName(const QDateTime& localTime);

// The OS table block, a line feed and the interface configuration block, with every line end
// stored as CR LF (never a doubled CR) and the text in the Japanese ANSI code page; characters
// without a form there become "?".
QByteArray Bytes(const QString& osTableText, const QString& ipconfigText);

// The local time an export is stamped with: the clock, unless a test has set its own.
QDateTime Now();
// Sets the clock Now() reads; an empty function restores the real clock.
void SetClockForTesting(std::function<QDateTime()> clock);

}  // namespace exportfile
