#include "Snippets.h"

#include <gtest/gtest.h>

namespace {

const Snippet addr = Snippet::make("addr", "12 Mill Lane");
const Snippet myAddr = Snippet::make("my addr", "Ann Smith\n12 Mill Lane\nLeeds");

TEST(SnippetExpansion, PhrasesInsideTextBecomeTheirTextLongestFirst) {
    struct Row {
        std::string text;
        std::vector<Snippet> snippets;
        std::string expected;
    };
    const std::vector<Row> rows = {
        // The longer phrase wins at the same position, whatever the list order.
        {"send it to my addr please",
         {addr, myAddr},
         "send it to Ann Smith\n12 Mill Lane\nLeeds please"},
        {"send it to my addr please",
         {myAddr, addr},
         "send it to Ann Smith\n12 Mill Lane\nLeeds please"},
        {"addr or addr", {addr}, "12 Mill Lane or 12 Mill Lane"},
        // Any case, any run of white space between the words.
        {"to MY   Addr, thanks", {addr, myAddr}, "to Ann Smith\n12 Mill Lane\nLeeds, thanks"},
        {"to my\naddr", {myAddr}, "to Ann Smith\n12 Mill Lane\nLeeds"},
        // Never inside a word, letters and digits alike.
        {"the addrs and readdr and addr2", {addr}, "the addrs and readdr and addr2"},
        {"(addr) and addr.", {addr}, "(12 Mill Lane) and 12 Mill Lane."},
        // Punctuation and pattern characters in a phrase are plain text.
        {"see c++ docs or c+ docs",
         {Snippet::make("c++", "C plus plus")},
         "see C plus plus docs or c+ docs"},
        {"a.b and axb", {Snippet::make("a.b", "dot")}, "dot and axb"},
        // Equal lengths keep list order.
        {"abc", {Snippet::make("ABC", "first"), Snippet::make("abc", "second")}, "first"},
    };
    for (const auto& [text, snippets, expected] : rows) {
        EXPECT_EQ(Snippets::expand(text, snippets), expected) << text;
    }
}

TEST(SnippetExpansion, TheWholeDictationBecomesExactlyTheSnippetText) {
    EXPECT_EQ(Snippets::expand("My addr.", {addr, myAddr}), myAddr.text);
    EXPECT_EQ(Snippets::expand("  ADDR!? ", {addr}), addr.text);
    EXPECT_EQ(Snippets::expand("\u00bfaddr\u2026", {addr}), addr.text);
    // A phrase with punctuation of its own still matches the bare dictation.
    EXPECT_EQ(Snippets::expand("sig", {Snippet::make("sig.", "-- Ann")}), "-- Ann");
}

TEST(SnippetExpansion, TextIsInsertedLiterally) {
    const Snippet dollars = Snippet::make("price", "$1 \\1 \\n & $0");
    EXPECT_EQ(Snippets::expand("the price is", {dollars}), "the $1 \\1 \\n & $0 is");
    EXPECT_EQ(Snippets::expand("price", {dollars}), dollars.text);
    // Capitals and the final period stay as stored.
    EXPECT_EQ(Snippets::expand("thanks sig", {Snippet::make("sig", "Best, Ann.")}),
              "thanks Best, Ann.");
}

TEST(SnippetExpansion, InvalidSnippetsAreIgnoredAndNoneLeavesTextAlone) {
    Snippet blank = addr;
    blank.text = " \n\t";
    Snippet noPhrase = addr;
    noPhrase.phrase = "";
    const std::string text = "  addr  with   spaces ";
    EXPECT_EQ(Snippets::expand(text, {}), text);
    EXPECT_EQ(Snippets::expand(text, {blank, noPhrase}), text);
    // A phrase that is only punctuation never stands for an empty dictation.
    EXPECT_EQ(Snippets::expand("...", {Snippet::make("!", "bang")}), "...");
    EXPECT_EQ(Snippets::expand("hey ! there", {Snippet::make("!", "bang")}), "hey bang there");
}

TEST(SnippetExpansion, EdgesAreSpaceLineBreaksAndPunctuation) {
    for (char32_t c :
         {U' ', U'\n', U'\u2029', U'\u00a0', U'.', U'-', U'\u201c', U'\u2014', U'\u00bf'}) {
        EXPECT_TRUE(Snippets::edges.contains(c)) << static_cast<unsigned>(c);
    }
    for (char32_t c : {U'a', U'1', U'$', U'+', U'\u00e9'}) {
        EXPECT_FALSE(Snippets::edges.contains(c)) << static_cast<unsigned>(c);
    }
    EXPECT_EQ(Snippets::trimmingEdges(" \u201cHi, there!\u201d\n"), "Hi, there");
    EXPECT_EQ(Snippets::trimmingEdges(".,;"), "");
}

TEST(SnippetExpansion, ManySnippetsAndLongTextStillExpand) {
    std::vector<Snippet> snippets;
    for (int i = 0; i < 300; ++i) {
        const std::string number = std::to_string(i);
        snippets.push_back(Snippet::make("phrase " + number, "<" + number + ">"));
    }
    std::string text;
    for (int i = 0; i < 500; ++i) {
        text += "say phrase " + std::to_string(i % 300) + " now ";
    }
    const std::string expanded = Snippets::expand(text, snippets);
    EXPECT_EQ(expanded.find("phrase"), std::string::npos);
    EXPECT_NE(expanded.find("say <299> now"), std::string::npos);
    // "phrase 1" must not take the start of "phrase 12".
    EXPECT_NE(expanded.find("say <12> now"), std::string::npos);
}

} // namespace
