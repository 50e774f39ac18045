#include "Cleanup.h"
#include "Disfluency.h"
#include "EmailLayout.h"
#include "Layout.h"
#include "Lists.h"
#include "Paragraphs.h"
#include "Regex.h"
#include "SpokenCommands.h"
#include "Text.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>

// Every formatting pass takes any text at all and gives back text: no exception, no hang, no
// character cut in half, and the text untouched when nothing in it asks for a change.
namespace {

struct Pass {
    std::string name;
    std::function<std::string(std::string_view)> run;
};

const std::vector<Pass>& passes() {
    static const std::vector<Pass> all = [] {
        std::vector<Pass> made = {
            {"disfluency", Disfluency::strip},
            {"commands", SpokenCommands::apply},
            {"lists", Lists::apply},
            {"paragraphs", [](std::string_view t) { return Paragraphs::apply(t, 3); }},
            {"email shape", EmailLayout::apply},
            {"tidy", [](std::string_view t) { return Layout::tidy(t, true, true); }},
        };
        for (const auto context : WritingContexts::allCases) {
            made.push_back({"layout " + std::string(WritingContexts::rawValue(context)),
                            [context](std::string_view t) { return Layout::format(t, context); }});
        }
        return made;
    }();
    return all;
}

// Command words, filler sounds, greetings, list markers, punctuation, spaces and several
// scripts, so that random soups hit every pattern and its neighbours.
const std::vector<std::string> tokens = {
    "new",    "line",       "paragraph", "next",   "back",   "tick",    "backtick", "first",
    "second", "third",      "firstly",   "of all", "number", "one",     "two",      "three",
    "12",     "bullet",     "point",     "um",     "uhh",    "Erm",     "like",     "hi",
    "Dear",   "Sarah",      "I",         "thanks", "best",   "regards", "Tom",      "cheers",
    "also",   "by the way", "and",       "then",   "the",    "a",       "an",       "its",
    "a.m.",   "p.m.",       "e.g.",      "iPhone", ".",      ",",       "!",        "?",
    ":",      ";",          "—",         "-",      "\n",     "\n\n",    "  ",       "\t",
    "\"",     "(",          ")",         "日本語", "привет", "مرحبا",   "é",        "e\u0301",
    "😀",      "👍🏽",   "\uFFFD",    "ß",      "İ",      "ǆ",       "`",        "\x1f",
};

std::string randomText(std::mt19937& random, std::size_t maxTokens) {
    std::uniform_int_distribution<std::size_t> count(0, maxTokens);
    std::uniform_int_distribution<std::size_t> pick(0, tokens.size() - 1);
    std::bernoulli_distribution spaced(0.7);
    std::string text;
    for (std::size_t i = count(random); i > 0; --i) {
        text += tokens[pick(random)];
        if (spaced(random)) {
            text += ' ';
        }
    }
    return text;
}

std::string repeated(std::string_view piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

std::string manyWords(std::size_t count) {
    static const std::vector<std::string> vocabulary = {
        "the",   "report", "is",    "ready",  "and",     "we",  "should", "send",
        "it",    "today",  "um",    "first,", "second,", "new", "line",   "I",
        "think", "I",      "think", "so.",    "Also",    "hi"};
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += vocabulary[(i * 7 + i / 3) % vocabulary.size()];
        out += ' ';
    }
    return out;
}

const std::vector<std::string>& adversarial() {
    static const std::vector<std::string> all = {
        "",
        " ",
        "\n\n\n",
        repeated(" \t\n", 2000),
        "...!?,;:",
        repeated(".,!?;:-—", 500),
        "\uFFFD",
        repeated("\uFFFD ", 1000),
        manyWords(50'000),
        repeated("word ", 10'000),
        repeated("um ", 10'000),
        repeated("new line ", 5'000),
        repeated("back tick ", 5'001),
        repeated("first, ", 5'000),
        repeated("I think ", 10'000),
        repeated("日本語 привет مرحبا 😀 e\u0301 ", 2'000),
        repeated("a", 100'000),
        repeated("Hi ", 3'000) + "thanks",
    };
    return all;
}

void expectWellFormed(const Pass& pass, const std::string& input) {
    std::string output;
    ASSERT_NO_THROW(output = pass.run(input)) << pass.name << " on " << input.substr(0, 80);
    EXPECT_EQ(Text::validUTF8(output), output)
        << pass.name << " split a character of " << input.substr(0, 80);
}

TEST(FormattingFuzz, RandomSoupsComeBackAsText) {
    std::mt19937 random(20240611);
    for (int i = 0; i < 1000; ++i) {
        const std::string text = randomText(random, 30);
        for (const auto& pass : passes()) {
            expectWellFormed(pass, text);
        }
        // Removing hesitations never adds words.
        EXPECT_LE(Cleanup::wordCount(Disfluency::strip(text)), Cleanup::wordCount(text)) << text;
        // Laid-out text is tidy whatever went in.
        const std::string laidOut = Layout::format(text, WritingContext::document);
        if (!Text::trimmed(text).empty()) {
            EXPECT_EQ(laidOut.find("\n\n\n"), std::string::npos) << text;
            EXPECT_EQ(laidOut.find(" \n"), std::string::npos) << text;
            EXPECT_EQ(laidOut.find("\n "), std::string::npos) << text;
            EXPECT_EQ(Text::trimmed(laidOut), laidOut) << text;
        }
    }
}

TEST(FormattingFuzz, AdversarialTextsComeBackAsText) {
    for (const auto& text : adversarial()) {
        for (const auto& pass : passes()) {
            expectWellFormed(pass, text);
        }
    }
}

TEST(FormattingFuzz, LongDictationsAreCleanedToTheEnd) {
    // A long dictation must not run out of search time halfway and come back untouched.
    const std::string text = manyWords(50'000) + "um so we are done um.";
    const std::string stripped = Disfluency::strip(text);
    EXPECT_EQ(stripped.find(" um "), std::string::npos);
    EXPECT_TRUE(stripped.ends_with(" so we are done.")) << stripped.substr(stripped.size() - 40);
    const std::string commanded = SpokenCommands::apply(text + " new line end");
    EXPECT_TRUE(commanded.ends_with("done um.\nend"));
    const std::string laidOut =
        Layout::format(text + " Also, we are done", WritingContext::document);
    EXPECT_TRUE(laidOut.ends_with("\n\nAlso, we are done.")) << laidOut.substr(laidOut.size() - 40);
}

TEST(FormattingFuzz, CommandsMatchAReplaceAllOverTheWholeText) {
    // The commands pass only tries its patterns next to the spoken phrases; that must give
    // exactly what one replace-all over the whole text gives.
    const auto pattern = [](std::string_view phrase) {
        return Regex(
            R"((?i)([.!?])?[,;:]?\s*(?<!\b(?:a|an|the|this|that|our|your|my|each|every|one|another|their|his|her|its)\s)\b)" +
            std::string(phrase) + R"(\b[,;:.!?]*\s*)");
    };
    const std::vector<std::pair<Regex, std::string>> commands = {{pattern("new paragraph"), "\n\n"},
                                                                 {pattern("new line"), "\n"},
                                                                 {pattern("next line"), "\n"}};
    const Regex backticks(R"((?i)\bback[ -]?ticks?\b[,.]?\s*(.+?)[,.]?\s*\bback[ -]?ticks?\b)");
    const auto everywhere = [&](std::string text) {
        for (const auto& [regex, replacement] : commands) {
            text = regex.replacingAll(
                text, [&](const RegexMatch& m) { return std::string(m.group(1)) + replacement; });
        }
        return backticks.replacingAll(text, "`$1`");
    };
    std::mt19937 random(99);
    for (int i = 0; i < 2000; ++i) {
        const std::string text = randomText(random, 30);
        ASSERT_EQ(SpokenCommands::apply(text), everywhere(text)) << text;
    }
}

// Words with nothing for any pass to do: capitalised, no two phrases alike, no fillers,
// commands, markers, greetings or closings.
std::string neutralText(std::mt19937& random, std::size_t sentences) {
    static const std::vector<std::string> words = {
        "Apple",  "Banana", "Cherry", "Dune",  "Elm",   "Fjord",  "Garnet", "Harbor",
        "Indigo", "Jasper", "Kettle", "Lumen", "Maple", "Nectar", "Opal",   "Quartz",
        "Élan",   "Ökonom", "Дом",    "日本",  "42",    "3.5",    "X²",     "😀"};
    std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
    std::uniform_int_distribution<int> length(1, 8);
    std::string text;
    int serial = 0;
    for (std::size_t s = 0; s < sentences; ++s) {
        if (s > 0) {
            text += ' ';
        }
        for (int w = length(random); w > 0; --w) {
            text += words[pick(random)] + std::to_string(++serial);
            text += w > 1 ? " " : ".";
        }
    }
    return text;
}

TEST(FormattingFuzz, TextWithNothingToDoComesBackUnchanged) {
    std::mt19937 random(7);
    for (int i = 0; i < 400; ++i) {
        const std::string text = neutralText(random, 1 + i % 3);
        EXPECT_EQ(Disfluency::strip(text), text);
        EXPECT_EQ(SpokenCommands::apply(text), text);
        EXPECT_EQ(Lists::apply(text), text);
        EXPECT_EQ(Paragraphs::apply(text, std::nullopt), text);
        EXPECT_EQ(EmailLayout::apply(text), text);
        for (const auto context : WritingContexts::allCases) {
            EXPECT_EQ(Layout::format(text, context), text) << WritingContexts::rawValue(context);
        }
    }
    for (const std::string blank : {"", " ", "\n\t \n"}) {
        for (const auto context : WritingContexts::allCases) {
            EXPECT_EQ(Layout::format(blank, context), blank);
        }
        EXPECT_EQ(Disfluency::strip(blank), blank);
        EXPECT_EQ(SpokenCommands::apply(blank), blank);
        EXPECT_EQ(Lists::apply(blank), blank);
    }
}

} // namespace
