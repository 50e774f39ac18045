#include "Text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, InvalidBytesBecomeReplacementCharacters) {
    EXPECT_EQ(Text::validUTF8("ok"), "ok");
    EXPECT_EQ(Text::validUTF8("h\xc3\xa9llo"), "héllo");
    EXPECT_EQ(Text::validUTF8("a\xff"
                              "b"),
              "a\uFFFD"
              "b");
    EXPECT_EQ(Text::validUTF8("\xed\xa0\x80"), "\uFFFD\uFFFD\uFFFD"); // an encoded lone surrogate
    EXPECT_EQ(Text::validUTF8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Text, TrimsUnicodeSpaceAndLineEndsAtBothEndsOnly) {
    EXPECT_EQ(Text::trimmed(" \t hello world \n"), "hello world");
    EXPECT_EQ(Text::trimmed("\u00a0\u2003text\u3000\r\n"), "text");
    EXPECT_EQ(Text::trimmed(" \n "), "");
    EXPECT_EQ(Text::trimmed(""), "");
    EXPECT_EQ(Text::trimmed("日本"), "日本");
}

} // namespace
