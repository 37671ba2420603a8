#include "ostable/netshscript.h"

#include <QRegularExpression>

#include <algorithm>

#include "platform/codepage.h"

namespace ostable {

QByteArray ScriptText(const QStringList& commandLines) {
    QString text;
    for (const QString& line : commandLines) {
        const qsizetype blank = line.indexOf(u' ');
        text += blank < 0 ? QString() : line.mid(blank + 1).trimmed();
        text += u"\r\n";
    }
    return platform::ToCp932(text);
}

QStringList SplitScriptOutput(const QString& output, qsizetype count) {
    static const QRegularExpression marker(QStringLiteral("^# end of line \\d+, exit code \\d+\\r?$"),
                                           QRegularExpression::MultilineOption);
    QStringList outputs;
    outputs.reserve(count);
    const bool marked = marker.match(output).hasMatch();
    qsizetype from = 0;
    while (outputs.size() < count && from < output.size()) {
        qsizetype end = -1;
        qsizetype next = -1;
        if (marked) {
            const QRegularExpressionMatch m = marker.match(output, from);
            if (m.hasMatch()) {
                end = m.capturedStart();
                next = m.capturedEnd();
            }
        } else {
            // The first empty line after some text ends the output.
            qsizetype start = from;
            while (start < output.size() && (output[start] == u'\r' || output[start] == u'\n')) ++start;
            const qsizetype blank = output.indexOf(QStringLiteral("\n\r\n"), start);
            const qsizetype bare = output.indexOf(QStringLiteral("\n\n"), start);
            const qsizetype at = blank < 0 ? bare : bare < 0 ? blank : std::min(blank, bare);
            if (at >= 0) {
                end = at + (at == blank ? 3 : 2);
                next = end;
            }
        }
        if (end < 0) {
            outputs << output.mid(from);
            from = output.size();
            break;
        }
        outputs << output.mid(from, end - from);
        from = next;
        while (marked && from < output.size() && (output[from] == u'\n')) ++from;
    }
    while (outputs.size() < count) outputs << QString();
    return outputs;
}

}  // namespace ostable
