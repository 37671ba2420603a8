#include "platform/charclass.h"

#include <gtest/gtest.h>

using platform::IsAllHalfWidth;
using platform::IsHalfWidth;

TEST(CharClass, AcceptsAsciiAndHalfWidthForms) {
    for (char32_t c = 0x20; c < 0x7F; ++c) EXPECT_TRUE(IsHalfWidth(c)) << int(c);
    EXPECT_TRUE(IsHalfWidth(U'ｱ'));  // half-width katakana
    EXPECT_TRUE(IsHalfWidth(U'ﾟ'));
    EXPECT_TRUE(IsHalfWidth(U'｡'));
    EXPECT_TRUE(IsAllHalfWidth(u"2001:db8::/32"));
    EXPECT_TRUE(IsAllHalfWidth(u"ﾈｯﾄﾜｰｸ"));
    EXPECT_TRUE(IsAllHalfWidth(u""));
}

TEST(CharClass, RefusesFullWidthCharacters) {
    EXPECT_FALSE(IsHalfWidth(U'ア'));
    EXPECT_FALSE(IsHalfWidth(U'あ'));
    EXPECT_FALSE(IsHalfWidth(U'漢'));
    EXPECT_FALSE(IsHalfWidth(U'Ａ'));  // full-width Latin
    EXPECT_FALSE(IsHalfWidth(U'１'));
    EXPECT_FALSE(IsHalfWidth(U'　'));  // ideographic space
    EXPECT_FALSE(IsHalfWidth(U'😀'));
    EXPECT_FALSE(IsAllHalfWidth(u"abc１"));
    EXPECT_FALSE(IsAllHalfWidth(u"ネットワーク"));
}
