// The export file's name and bytes.
#include <QDateTime>
#include <gtest/gtest.h>

#include "ostable/exportfile.h"
#include "platform/codepage.h"

TEST(ExportFile, NameIsLocalTimeStamp) {
    const QDateTime t(QDate(2011, 10, 5), QTime(14, 22, 33));
    EXPECT_EQ(exportfile::FileName(t), QStringLiteral("20111005-142233.dat"));
    EXPECT_EQ(exportfile::FileName(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))),
              QStringLiteral("20260102-030405.dat"));
    EXPECT_EQ(exportfile::FileName(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59))),
              QStringLiteral("19991231-235959.dat"));
}

TEST(ExportFile, BlocksJoinedWithLineFeedAndStoredWithCrLf) {
    const QByteArray bytes = exportfile::Bytes(QStringLiteral(">netsh\nline 1\n"),
                                               QStringLiteral(">ipconfig /all\nA\nB"));
    EXPECT_EQ(bytes, QByteArray(">netsh\r\nline 1\r\n\r\n>ipconfig /all\r\nA\r\nB"));
}

TEST(ExportFile, CrLfInTheTextIsNotDoubled) {
    const QByteArray bytes = exportfile::Bytes(QStringLiteral("a\r\nb\r\r\nc"), QStringLiteral("d\r\n"));
    EXPECT_EQ(bytes, QByteArray("a\r\nb\r\nc\r\nd\r\n"));
    EXPECT_FALSE(bytes.contains("\r\r"));
    // Every line feed is preceded by exactly one carriage return.
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n') {
            EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r');
        }
}

TEST(ExportFile, TextIsStoredInTheJapaneseCodePage) {
    const QString jp = QStringLiteral("イーサネット アダプター ローカル エリア接続:");
    const QByteArray bytes = exportfile::Bytes(QStringLiteral(">netsh\n優先順位"), jp);
    EXPECT_EQ(bytes, platform::ToCp932(QStringLiteral(">netsh\r\n優先順位\r\n") + jp));
    EXPECT_EQ(platform::FromCp932(bytes), QStringLiteral(">netsh\r\n優先順位\r\n") + jp);
    // A character without a CP932 form is written as "?".
    EXPECT_EQ(exportfile::Bytes(QStringLiteral("x\u00e9"), QString()), QByteArray("x?\r\n"));
}
