#include "Text.h"
#include "TextSearch.h"

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

TEST(Text, TrimsChosenCharactersWithOrWithoutSpace) {
    EXPECT_EQ(Text::trimmed(" - eggs, ;\n", U",;-", true), "eggs");
    EXPECT_EQ(Text::trimmed(" ,eggs.\n", U" ,.", false), "eggs.\n");
    EXPECT_EQ(Text::trimmed("—note—", U"—", false), "note");
    EXPECT_EQ(Text::trimmed(",,,", U",", false), "");
    EXPECT_EQ(Text::trimmed("a, b", U",", true), "a, b");
}

TEST(Text, FindsTheSpaceBeforeAPlace) {
    const std::string text = "ab \t\u00a0\ncd";
    EXPECT_EQ(Text::trailingWhitespaceStart(text, text.find("cd")), 2u);
    EXPECT_EQ(Text::trailingWhitespaceStart(text, 2), 2u);
    EXPECT_EQ(Text::trailingWhitespaceStart(text, text.size()), text.size());
    EXPECT_EQ(Text::trailingWhitespaceStart("   ", 3), 0u);
    EXPECT_EQ(Text::trailingWhitespaceStart("", 0), 0u);
    EXPECT_EQ(Text::trailingWhitespaceStart("é ", 99), 2u);
}

} // namespace

namespace {

TEST(TextSearch, FindsIgnoringCaseInAnyScriptButNotAccents) {
    EXPECT_TRUE(TextSearch("STUDIO").foundIn("Visual Studio Code"));
    EXPECT_TRUE(TextSearch("KÖLN").foundIn("Grüße aus Köln"));
    EXPECT_TRUE(TextSearch("STRASSE").foundIn("Die Straße"));
    EXPECT_TRUE(TextSearch("σοφία").foundIn("ΣΟΦΊΑ"));
    EXPECT_TRUE(TextSearch("").foundIn("anything"));
    EXPECT_TRUE(TextSearch("").foundIn(""));
    EXPECT_FALSE(TextSearch("cafe").foundIn("café")) << "accents still count";
    EXPECT_FALSE(TextSearch("a").foundIn(""));
}

// Plain ASCII texts take a shorter way than the rest; both must agree on what folding finds.
TEST(TextSearch, AsciiTextsFoldAsUnicodeDoes) {
    struct Case {
        const char* needle;
        const char* haystack;
        const char* locale;
        bool found;
    };
    const Case cases[] = {
        {"MEETING", "Move the meeting to Friday", "en_US", true},
        {"meeting!", "MEETING!", "en_US", true},
        {"ß", "STRASSE", "en_US", true},
        {"straße", "Strasse", "en_US", true},
        {"\u212A", "ok", "en_US", true}, // the Kelvin sign folds to k
        {"é", "cafe", "en_US", false},
        {"meetings", "meeting", "en_US", false},
        {"@[", "a@[b", "en_US", true},
        {"@[", "a`{b", "en_US", false}, // neighbours of A and Z are not letters
        {"i", "I", "tr_TR", false},     // Turkic: I pairs with dotless ı
        {"ı", "I", "tr_TR", true},
        {"i", "I", "en_US", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TextSearch(c.needle, c.locale).foundIn(c.haystack), c.found)
            << c.needle << " in " << c.haystack << " (" << c.locale << ")";
    }
}

TEST(Text, WordsAndLinesSplitOnEveryKindOfBreak) {
    EXPECT_EQ(Text::words(" a\u3000b\tc\u2029d "), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(Text::lines("a\r\n\nb\u2028c\u0085"), (std::vector<std::string_view>{"a", "b", "c"}));
    EXPECT_EQ(Text::collapsedSpaces("  a   b \n c "), "a b c");
}

TEST(Text, NamesFromOtherProgramsCannotForgeLinesOrReorderText) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"Editor", "Editor"},
        {"Café Über 日本", "Café Über 日本"},
        {"Notes\n2026-12-09T00:00:00Z could not start recording",
         "Notes 2026-12-09T00:00:00Z could not start recording"},
        {"a\rb\tc\x1b[31mred\x7f", "a b c [31mred "},
        {"evil\u202Etxt.exe", "evil txt.exe"},
        {"\u2066iso\u2069 \u200Fmark \u061C", " iso   mark  "},
        {"line\u2028sep\u2029para\u0085nel", "line sep para nel"},
        {std::string("bad\xff\xfe"), "bad\uFFFD\uFFFD"},
    };
    for (const auto& [name, shown] : cases) {
        EXPECT_EQ(Text::printable(name), shown) << name;
    }
}

} // namespace
