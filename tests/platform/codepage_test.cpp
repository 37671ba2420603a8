#include <gtest/gtest.h>

#include "platform/codepage.h"

using platform::FromCp932;
using platform::ToCp932;

TEST(CodePage, RoundTripsJapaneseAndMarksUnmappableCharacters) {
    const QString text = QStringLiteral("ネットワーク名,abc～");
    EXPECT_EQ(FromCp932(ToCp932(text)), text);
    EXPECT_EQ(ToCp932(QStringLiteral("a€b")), QByteArray("a?b"));
    EXPECT_EQ(ToCp932(QStringLiteral("é")), QByteArray("?"));
    EXPECT_EQ(ToCp932(QStringLiteral("あ")), QByteArray("\x82\xa0"));
    // A lead byte cut off at the end stays visible.
    EXPECT_EQ(FromCp932(QByteArray("a\x82")), QStringLiteral("a\uFFFD"));
    EXPECT_TRUE(FromCp932(QByteArray()).isEmpty());
}
