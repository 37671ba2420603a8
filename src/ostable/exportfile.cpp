#include "ostable/exportfile.h"

#include <QRegularExpression>

#include "platform/codepage.h"

namespace exportfile {

namespace {

std::function<QDateTime()>& Clock() {
    static std::function<QDateTime()> clock;
    return clock;
}

}  // namespace

QDateTime Now() { return Clock() ? Clock()() : QDateTime::currentDateTime(); }

void SetClockForTesting(std::function<QDateTime()> clock) { Clock() = std::move(clock); }

QString FileName(const QDateTime& localTime) {
    return localTime.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".dat");
}

QByteArray Bytes(const QString& osTableText, const QString& ipconfigText) {
    QString text = osTableText + u'\n' + ipconfigText;
    // Every line end becomes a bare line feed first; a run of carriage returns before a line
    // feed counts as part of that line end, so that writing CR LF below never doubles a CR.
    static const QRegularExpression lineEnd(QStringLiteral("\r+\n"));
    text.replace(lineEnd, QStringLiteral("\n"));
    text.replace(u'\n', QStringLiteral("\r\n"));
    return platform::ToCp932(text);
}

}  // namespace exportfile
