// Random and hostile transcripts through the cleanup passes: every call returns, nothing
// spoken is invented, and nothing outside what a pass may touch changes.
#include "Cleanup.h"
#include "CleanupGuard.h"
#include "CleanupPipeline.h"
#include "CorrectionCues.h"
#include "CorrectionGuard.h"
#include "SelfCorrection.h"
#include "Snippets.h"
#include "Text.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace {

const std::vector<std::string> pieces = {
    "no",          "No,",     "wait",      "wait,",      "sorry",
    "sorry,",      "I",       "mean,",     "meant",      "actually",
    "Actually,",   "scratch", "that",      "that.",      "strike",
    "or",          "rather,", "make",      "it",         "correction,",
    "um",          "uh,",     "like,",     "Monday,",    "Tuesday.",
    "3,",          "4pm",     "noon",      "March",      "may",
    "the",         "red",     "folder,",   "Anna",       "Maria.",
    "?",           "!",       "-",         "\u2014",     "...",
    "caf\u00e9",   "e\u0301", "\u0301",    "\U0001F600", "\u05e9\u05dc\u05d5\u05dd",
    "$20",         "50%",     "(see",      "a.m.",       "Don\u2019t",
    "\"quoted,\"", "new",     "paragraph", "line",       "sig",
    "x",           "w",       "what",      "had",        "had,",
};
const std::vector<std::string> spaces = {" ", " ", " ", "  ", "\t", "\n", "\u00a0", "\u2028"};

// `loneMarks`: whether a combining accent may stand alone between spaces; joined onto the word
// before it, it becomes part of that word, which no speech engine would ever produce.
std::string randomText(std::mt19937& random, std::size_t maxPieces, bool loneMarks = true) {
    std::string text;
    const std::size_t count = random() % maxPieces;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& piece = pieces[random() % pieces.size()];
        if (!loneMarks && piece == "\u0301") {
            continue;
        }
        text += piece;
        text += spaces[random() % spaces.size()];
    }
    return text;
}

std::string withoutSpace(std::string_view text) {
    std::string out;
    for (const auto& word : Text::words(text)) {
        out += word;
    }
    return out;
}

std::vector<std::string> sortedWords(std::string_view text) {
    std::vector<std::string> words;
    for (const auto& token : Token::split(text)) {
        words.push_back(token.word);
    }
    std::sort(words.begin(), words.end());
    return words;
}

TEST(CleanupFuzz, TokensKeepEveryCharacter) {
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        const std::string text = randomText(random, 40);
        EXPECT_EQ(withoutSpace(Token::join(Token::split(text))), withoutSpace(text)) << text;
    }
}

TEST(CleanupFuzz, SelfCorrectionOnlyRemovesWhatWasSaid) {
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        const std::string text = randomText(random, 60, false);
        const std::string resolved = SelfCorrection::resolve(text);
        EXPECT_EQ(Text::validUTF8(resolved), resolved);
        if (resolved == text) {
            continue;
        }
        // Every word left was spoken, and no more often than it was spoken.
        const auto before = sortedWords(text);
        const auto after = sortedWords(resolved);
        EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end()))
            << text << "\n=> " << resolved;
        EXPECT_LT(after.size(), before.size()) << text;
    }
}

TEST(CleanupFuzz, TheGuardAcceptsTheRulesOwnResultAndNothingWithoutWords) {
    std::mt19937 random(13);
    for (int round = 0; round < 300; ++round) {
        const std::string raw = randomText(random, 60);
        const std::string resolved = SelfCorrection::resolve(raw);
        EXPECT_EQ(CorrectionGuard::choose(std::nullopt, raw),
                  (CorrectionGuard::Choice{resolved, false}));
        const bool hasWords = !CleanupGuard::words(resolved).empty();
        EXPECT_EQ(CorrectionGuard::choose(resolved, raw).usedModel, hasWords) << raw;
        EXPECT_FALSE(CorrectionGuard::choose("... !", raw).usedModel) << raw;
        // A random other transcript is searched within its bounds and gives an answer.
        (void)CorrectionGuard::isFaithfulCorrection(randomText(random, 30), raw);
    }
}

TEST(CleanupFuzz, SnippetsOnlyReplaceTheirPhrases) {
    std::mt19937 random(17);
    for (int round = 0; round < 150; ++round) {
        const std::string text = randomText(random, 30);
        EXPECT_EQ(Snippets::expand(text, {}), text);
        std::vector<Snippet> snippets;
        for (const std::string marker : {"<0>", "<1>", "<2>"}) {
            snippets.push_back(Snippet::make(
                pieces[random() % pieces.size()] + " " + pieces[random() % pieces.size()], marker));
        }
        const std::string expanded = Snippets::expand(text, snippets);
        EXPECT_EQ(Text::validUTF8(expanded), expanded);
        if (expanded.find('<') == std::string::npos) {
            EXPECT_EQ(expanded, text) << "no phrase matched, so nothing changes";
        }
    }
}

TEST(CleanupFuzz, ThePipelineAlwaysFinishes) {
    std::mt19937 random(19);
    const std::vector<std::string> apps = {"Slack", "Thunderbird", "LibreOffice Writer",
                                           "unknown app", "Code"};
    for (int round = 0; round < 200; ++round) {
        const std::string text = randomText(random, 80);
        const bool secure = random() % 4 == 0;
        const std::optional<std::string> candidate =
            random() % 2 ? std::optional(randomText(random, 30)) : std::nullopt;
        const auto stages = CleanupPipeline::run(
            text, ScreenContext(apps[random() % apps.size()]), random() % 3 != 0, secure,
            WritingStyles::allCases[random() % 3], {Snippet::make("sig", "Best, Ann.")},
            CleanupPipeline::fixed(candidate));
        EXPECT_EQ(stages.isEmpty, Cleanup::isEmptyTranscript(text));
        if (!stages.isEmpty && secure) {
            EXPECT_EQ(stages.final, stages.stripped);
        }
        EXPECT_EQ(Text::validUTF8(stages.final), stages.final);
    }
}

} // namespace
