#pragma once
// Console output of the Windows stand-ins: text collected line by line with CR LF ends and
// written to standard output in CP932 at once, as a Japanese-language Windows prints it.
#include <QString>
#include <QStringList>

#include <cerrno>
#include <unistd.h>

#include "platform/codepage.h"

class CConsoleText {
public:
    void Line(const QString& text = QString()) {
        m_text += text;
        m_text += u"\r\n";
    }
    void Lines(const QStringList& lines) {
        for (const QString& l : lines) Line(l);
    }
    void Append(const CConsoleText& other) { m_text += other.m_text; }
    // Writes everything collected; a closed or failing output ends the write quietly.
    void Flush() {
        const QByteArray bytes = platform::ToCp932(m_text);
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += n;
        }
    }

private:
    QString m_text;
};
