#include "platform/codepage.h"

#include <gtest/gtest.h>

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

TEST(CodePage, KeepsTrailBytesThatLookLikeAsciiInsideTheirCharacter) {
    // "ソ" is 83 5C and "表" is 95 5C: the trail byte is the backslash code.
    EXPECT_EQ(ToCp932(QStringLiteral("ソ表\\")), QByteArray("\x83\x5C\x95\x5C\\"));
    EXPECT_EQ(FromCp932(QByteArray("\x83\x5C\x95\x5C\\")), QStringLiteral("ソ表\\"));
}

TEST(CodePage, InvalidBytesBecomeReplacementCharactersAndTheRestSurvives) {
    const QString text = FromCp932(QByteArray("a\x85\x40z\xFF", 5));
    EXPECT_TRUE(text.startsWith(u'a'));
    EXPECT_TRUE(text.contains(u'z'));
    EXPECT_TRUE(text.contains(QChar::ReplacementCharacter));
    // NUL bytes are kept as characters.
    EXPECT_EQ(FromCp932(QByteArray("a\0b", 3)).size(), 3);
}

TEST(CodePage, UnmappableCharacterNextToDoubleByteOnesGivesOneQuestionMark) {
    EXPECT_EQ(ToCp932(QStringLiteral("あ😀い")), QByteArray("\x82\xa0?\x82\xa2"));
    EXPECT_EQ(FromCp932(ToCp932(QStringLiteral("半角ｶﾅと全角"))), QStringLiteral("半角ｶﾅと全角"));
}

TEST(CodePage, EachInvalidByteIsOneReplacementAndTheNextByteIsReadOn) {
    // 81 20: a lead byte followed by a blank is no character; the blank survives.
    EXPECT_EQ(FromCp932(QByteArray("x\x81\x20y\xFFz")), QStringLiteral("x\uFFFD y\uFFFDz"));
    // A real SUB control character is not mistaken for an invalid byte.
    EXPECT_EQ(FromCp932(QByteArray("\x1A\x80")), QStringLiteral("\u001A\uFFFD"));
    EXPECT_EQ(FromCp932(QByteArray("\x82\xa0\xFF\x82\xa2")), QStringLiteral("あ\uFFFDい"));
}

TEST(CodePage, ControlBytesMapToThemselvesBothWays) {
    const QByteArray bytes("\x1a\x1c\x7f\\~", 5);
    const QString text = FromCp932(bytes);
    ASSERT_EQ(text.size(), 5);
    EXPECT_EQ(text[0].unicode(), 0x1A);
    EXPECT_EQ(text[1].unicode(), 0x1C);
    EXPECT_EQ(text[2].unicode(), 0x7F);
    EXPECT_EQ(text[3], u'\\');
    EXPECT_EQ(ToCp932(text), bytes);
    // The same bytes next to an invalid one take the slow path and still map to themselves.
    const QString mixed = FromCp932(QByteArray("\x1a\x80\x7f", 3));
    EXPECT_EQ(mixed, QString(QChar(0x1A)) + QChar::ReplacementCharacter + QChar(0x7F));
}
