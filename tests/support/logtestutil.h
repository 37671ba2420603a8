#pragma once
// Reading zarntool.log in tests: lines split into their three fields.
#include <QString>
#include <QStringList>

#include "platform/codepage.h"
#include "support/testsupport.h"

struct CLogLine {
    QString stamp;
    QString word;
    QString text;  // as written, escapes included
};

// Splits at the first two commas; a line without them keeps everything in `text`.
inline CLogLine SplitLogLine(const QString& line) {
    CLogLine l;
    const qsizetype a = line.indexOf(u',');
    const qsizetype b = a < 0 ? -1 : line.indexOf(u',', a + 1);
    if (b < 0) {
        l.text = line;
        return l;
    }
    l.stamp = line.left(a);
    l.word = line.mid(a + 1, b - a - 1);
    l.text = line.mid(b + 1);
    return l;
}

inline QList<CLogLine> ReadLog(const QString& path) {
    QList<CLogLine> lines;
    const QString text = platform::FromCp932(testsupport::ReadFile(path));
    QStringList raw = text.split(QStringLiteral("\r\n"));
    if (!raw.isEmpty() && raw.last().isEmpty()) raw.removeLast();
    for (const QString& r : raw) lines.append(SplitLogLine(r));
    return lines;
}

// "WORD,text" per line, for comparing whole logs.
inline QStringList WordsAndTexts(const QList<CLogLine>& lines) {
    QStringList out;
    for (const CLogLine& l : lines) out << l.word + u',' + l.text;
    return out;
}
