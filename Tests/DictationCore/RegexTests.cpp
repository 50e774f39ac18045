#include "Regex.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(Regex, UnicodeWordsBoundariesAndClasses) {
    EXPECT_EQ(Regex(R"(\b\w+\b)").replacingAll("naïve café", "<$0>"), "<naïve> <café>");
    EXPECT_EQ(Regex(R"(\p{Lu})").replacingAll("Émile Zola", "_"), "_mile _ola");
    EXPECT_EQ(Regex(R"((?<=\d)(?=(\d{3})+$))").replacingAll("1234567", ","), "1,234,567");
    EXPECT_EQ(Regex(R"((?i)HELLO)").replacingAll("say hello", "hi"), "say hi");
    // A case-insensitive back reference catches a repeat in another case.
    EXPECT_EQ(Regex(R"(\b(\w+) \1\b)", Regex::caseInsensitive).replacingAll("The the end", "$1"),
              "The end");
}

TEST(Regex, MatchesGiveByteRangesIntoTheUtf8Text) {
    const std::string text = "日本 and 😀 ok";
    const auto found = Regex(R"((\w+)|(😀))").matches(text);
    ASSERT_TRUE(found);
    ASSERT_EQ(found->size(), 4u);
    EXPECT_EQ((*found)[0].group(), "日本");
    EXPECT_EQ((*found)[0].start(), 0u);
    EXPECT_EQ((*found)[1].start(), text.find("and"));
    EXPECT_TRUE((*found)[2].matched(2));
    EXPECT_FALSE((*found)[2].matched(1));
    EXPECT_EQ((*found)[2].group(1), "");
    EXPECT_EQ((*found)[3].group(1), "ok");
}

TEST(Regex, ReplacementsByTemplateFunctionAndLiterally) {
    const Regex word(R"((\w+)@(\w+))");
    EXPECT_EQ(word.replacingAll("ann@home", "$2 of $1"), "home of ann");
    EXPECT_EQ(word.replacingAll("ann@home", "\\$1"), "$1");
    EXPECT_EQ(word.replacingAllLiterally("ann@home", "$1 \\n"), "$1 \\n");
    EXPECT_EQ(word.replacingAll("a@b c@d",
                                [](const RegexMatch& m) -> std::optional<std::string> {
                                    if (m.group(1) == "a") {
                                        return std::nullopt; // keep
                                    }
                                    return std::string(m.group(2));
                                }),
              "a@b d");
}

TEST(Regex, TemplatesFollowTheUsualReplacementSyntax) {
    const Regex pair(R"((?<first>\w)(\w))");
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"$2$1", "ba dc"},
        {"[$0]", "[ab] [cd]"},
        {"${first}!", "a! c!"},
        // Digits are taken only while they still name a group.
        {"$12", "a2 c2"},
        {"\\$1\\\\", "$1\\ $1\\"},
        {"\\u00e9\\U0001F600", "é😀 é😀"},
        {"", " "},
    };
    for (const auto& [replacement, expected] : rows) {
        EXPECT_EQ(pair.replacingAll("ab cd", replacement), expected) << replacement;
    }
    // A $ that names no group makes the replacement fail rather than guess.
    EXPECT_EQ(pair.tryReplacingAll("ab cd", "$x"), std::nullopt);
    EXPECT_EQ(pair.tryReplacingAll("ab cd", "${nosuch}"), std::nullopt);
    EXPECT_EQ(pair.replacingAll("ab cd", "${first"), "ab cd");
}

TEST(Regex, ABadPatternLeavesTextUnchanged) {
    const Regex broken("(unclosed");
    EXPECT_FALSE(broken.isValid());
    EXPECT_EQ(broken.replacingAll("text (unclosed", "x"), "text (unclosed");
    EXPECT_EQ(broken.replacingAllLiterally("text", "x"), "text");
    EXPECT_EQ(broken.matches("text"), std::nullopt);
    EXPECT_FALSE(broken.isMatch("(unclosed"));
}

TEST(Regex, ARunawayPatternGivesUpAndLeavesTextUnchanged) {
    // Catastrophic backtracking: without a limit this takes longer than the universe.
    const Regex evil(R"(^(a+)+$)");
    const std::string text = std::string(40, 'a') + "!";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(evil.replacingAll(text, "x"), text);
    EXPECT_EQ(evil.matches(text), std::nullopt);
    EXPECT_FALSE(evil.isMatch(text));
    // Generous bound: only there to show the search was cut off, not to time anything.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(Regex, ARunawayAfterManyMatchesLeavesTheWholeTextUnchanged) {
    // The early matches succeed before the search runs out of time further on; no replacement
    // may survive from them.
    const Regex pattern(R"(x|(a+)+b)");
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text += "x ";
    }
    text += std::string(40, 'a');
    EXPECT_EQ(pattern.tryReplacingAll(text, "y"), std::nullopt);
    EXPECT_EQ(pattern.replacingAll(text, "y"), text);
    EXPECT_EQ(pattern.tryReplacingAll(text, [](const RegexMatch&) { return std::string("y"); }),
              std::nullopt);
    EXPECT_EQ(pattern.replacingAllLiterally(text, "y"), text);
    EXPECT_EQ(Regex("(unclosed").tryReplacingAll("text", "x"), std::nullopt);
}

TEST(Regex, LongTextsAreSearchedToTheEnd) {
    // The time budget grows with the text, so a cheap pattern reaches the last word of a long
    // dictation instead of giving up halfway.
    std::string text;
    for (int i = 0; i < 50'000; ++i) {
        text += "word" + std::to_string(i % 97) + " ";
    }
    text += "last last";
    const Regex word(R"(\b(\w+)\b)");
    const auto found = word.matches(text);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->size(), 50'002u);
    const auto swapped = word.tryReplacingAll(text, "<$1>");
    ASSERT_TRUE(swapped);
    EXPECT_TRUE(swapped->ends_with("<last> <last>"));
    const Regex repeat(R"((?i)\b([\w']+(?:\s+[\w']+){1,3}),?\s+\1\b)");
    const std::string phrase = text + " one two one two";
    EXPECT_TRUE(repeat.replacingAll(phrase, "$1").ends_with("last last one two"));
}

TEST(Regex, MatchAtSeesTheTextBeforeTheOffset) {
    const std::string text = "naïve the new line, and a new line";
    const RegexText subject(text);
    const Regex command(R"((?<!\bthe\s)\bnew line\b,?)");
    bool failed = true;
    // A look-behind and a word boundary look past the offset into the text before it.
    EXPECT_FALSE(command.matchAt(subject, text.find("new"), failed));
    EXPECT_FALSE(failed);
    const auto second = command.matchAt(subject, text.rfind("new"), failed);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->start(), text.rfind("new"));
    EXPECT_EQ(second->end(), text.size());
    EXPECT_FALSE(Regex(R"(\bive)").matchAt(subject, text.find("ive"), failed));
    EXPECT_TRUE(Regex(R"(ve\b)").matchAt(subject, text.find("ve"), failed));
    // Only a match starting exactly there counts.
    EXPECT_FALSE(Regex("new").matchAt(subject, 0, failed));
    // Offsets after a multi-byte character map back to the same bytes.
    const auto group = Regex(R"((t)he)").matchAt(subject, text.find("the"), failed);
    ASSERT_TRUE(group);
    EXPECT_EQ(group->group(1), "t");
    EXPECT_EQ(group->start(1), text.find("the"));
    EXPECT_FALSE(Regex("(unclosed").matchAt(subject, 0, failed));
    EXPECT_TRUE(failed);
}

// The whole text and nothing else.
std::string exactly(std::string_view literal) {
    std::string pattern(1, '^');
    pattern += Regex::escaped(literal);
    pattern += '$';
    return pattern;
}

TEST(Regex, EscapedTextMatchesItselfOnly) {
    for (const std::string literal : {"a.b", "$1 (x)", "c++", "[ok]?", "\\d{2}", "a|b", "-#&~^"}) {
        const Regex exact(exactly(literal));
        ASSERT_TRUE(exact.isValid()) << literal;
        EXPECT_TRUE(exact.isMatch(literal)) << literal;
        EXPECT_FALSE(exact.isMatch(literal + "x")) << literal;
    }
    EXPECT_FALSE(Regex(exactly("a.b")).isMatch("axb"));
}

TEST(Regex, SharedBetweenThreads) {
    const Regex pattern(R"(\b(\w)(\w*)\b)");
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                if (pattern.replacingAll("alpha beta", "$2$1") != "lphaa etab") {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
