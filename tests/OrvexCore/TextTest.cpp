#include "Text.h"

#include <gtest/gtest.h>

using namespace orvex;

TEST(Text, TrimRemovesUnicodeWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(Text::trim("\n\n  ok \r\n\t"), "ok");
    EXPECT_EQ(Text::trim("a\n b"), "a\n b");
    // no-break space, em space, ideographic space, line separator around Cyrillic text
    EXPECT_EQ(Text::trim("\u00a0\u2003Привет\u3000\u2028"), "Привет");
    EXPECT_EQ(Text::trim(" \t\r\n"), "");
    EXPECT_EQ(Text::trim(""), "");
    // the zero-width space is not white space
    EXPECT_EQ(Text::trim("\u200bx\u200b"), "\u200bx\u200b");
}

TEST(Text, TrimKeepsInvalidBytesAtTheEnds) {
    EXPECT_EQ(Text::trim(" \xff "), "\xff");
    EXPECT_EQ(Text::trim("x \xd0"), "x \xd0");
}

TEST(Text, UTF8Validation) {
    EXPECT_TRUE(Text::isValidUTF8("Ёж 😀"));
    EXPECT_FALSE(Text::isValidUTF8("\xd0"));             // cut sequence
    EXPECT_FALSE(Text::isValidUTF8("\xc0\xaf"));         // overlong
    EXPECT_FALSE(Text::isValidUTF8("\xed\xa0\x80"));     // surrogate
    EXPECT_FALSE(Text::isValidUTF8("\xf4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_EQ(Text::utf8OrEmpty("ok\xff"), "");
    EXPECT_EQ(Text::utf8OrEmpty("ок"), "ок");
}

TEST(Text, SpacesTabsAndCase) {
    EXPECT_EQ(Text::trimSpacesAndTabs(" \t a b\t \n"), "a b\t \n");
    EXPECT_EQ(Text::trimSpacesAndTabs("   "), "");
    EXPECT_EQ(Text::asciiLower("User CANCELED Отмена"), "user canceled Отмена");
}
