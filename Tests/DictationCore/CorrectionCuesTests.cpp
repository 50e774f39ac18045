#include "CorrectionCues.h"

#include <gtest/gtest.h>

namespace {

std::string words(const std::vector<Token>& tokens, TokenRange range) {
    std::vector<Token> part(tokens.begin() + static_cast<std::ptrdiff_t>(range.first),
                            tokens.begin() + static_cast<std::ptrdiff_t>(range.end));
    return Token::join(part);
}

TEST(Token, SplitSeparatesLeadWordAndTrail) {
    struct Row {
        std::string piece;
        Token expected;
    };
    const std::vector<Row> rows = {
        {"$20", {"", "$20", ""}},
        {"50%", {"", "50%", ""}},
        {"(see", {"(", "see", ""}},
        {"\"Monday,\"", {"\"", "Monday", ",\""}},
        {"a.m.", {"", "a.m", "."}},
        {"don't?!", {"", "don't", "?!"}},
        {"20$.", {"", "20", "$."}},
        {"%5", {"%", "5", ""}},
        {"\u00bfQu\u00e9?", {"\u00bf", "Qu\u00e9", "?"}},
        // A combining accent belongs to its letter, not to the trail.
        {"cafe\u0301.", {"", "cafe\u0301", "."}},
        {"\u2014", {"\u2014", "", ""}},
    };
    for (const auto& [piece, expected] : rows) {
        const auto tokens = Token::split(piece);
        ASSERT_EQ(tokens.size(), 1u) << piece;
        EXPECT_EQ(tokens[0], expected) << piece;
    }
}

TEST(Token, JoiningCollapsesSpaceAndAttachesLonePunctuation) {
    const auto tokens = Token::split("Hi,  (Bob) - ok?");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[1], (Token{"(", "Bob", ")-"}));
    EXPECT_EQ(Token::join(tokens), "Hi, (Bob)- ok?");
    EXPECT_EQ(Token::join(Token::split(" - ... well\n\tthen ")), "-... well then");
    EXPECT_EQ(Token::join(Token::split("")), "");
}

TEST(Token, FoldingAndPunctuationTests) {
    EXPECT_EQ(Token::split("Don\u2019t")[0].folded(), Token::split("don't")[0].folded());
    EXPECT_EQ(foldedWord("\u00c9COLE"), "\u00e9cole");

    struct Row {
        std::string piece;
        bool sentenceEnd, clauseEnd;
    };
    const std::vector<Row> rows = {
        {"done.", true, true},       {"done?", true, true},       {"done!\"", true, true},
        {"a.m.", false, false},      {"e.g.,", false, true},      {"done,", false, true},
        {"done;", false, true},      {"done:", false, true},      {"done\u2014", false, true},
        {"done\u2013", false, true}, {"done\u2026", false, true}, {"done", false, false},
        {"(done)", false, false},
    };
    for (const auto& [piece, sentenceEnd, clauseEnd] : rows) {
        const Token token = Token::split(piece)[0];
        EXPECT_EQ(token.isSentenceEnd(), sentenceEnd) << piece;
        EXPECT_EQ(token.endsClause(), clauseEnd) << piece;
    }
}

TEST(Lexicon, SetsHaveTheirFullSizeAndSlotsFollowTheirOrder) {
    using enum Lexicon::Set;
    EXPECT_EQ(Lexicon::size(function), 111u);
    EXPECT_EQ(Lexicon::size(hedges), 28u);
    EXPECT_EQ(Lexicon::size(clauseWords), 43u);
    EXPECT_EQ(Lexicon::size(weekdays), 12u);
    EXPECT_EQ(Lexicon::size(months), 12u);
    EXPECT_EQ(Lexicon::size(dayparts), 6u);
    EXPECT_EQ(Lexicon::size(numberWords), 37u);

    using Slot = Lexicon::Slot;
    const std::vector<std::pair<std::string, std::optional<Slot>>> rows = {
        {"3rd", Slot::number},    {"10", Slot::number},         {"twenty", Slot::number},
        {"first", Slot::number},  {"\u00bd", Slot::number},     {"tuesday", Slot::day},
        {"tomorrow", Slot::day},  {"march", Slot::month},       {"may", std::nullopt},
        {"noon", Slot::daypart},  {"lunchtime", Slot::daypart}, {"folder", std::nullopt},
        {"Monday", std::nullopt}, // slots are looked up by folded word
    };
    for (const auto& [word, slot] : rows) {
        EXPECT_EQ(Lexicon::slot(word), slot) << word;
    }
}

struct FindRow {
    std::string text;
    std::size_t index;
    std::optional<CueMatch> expected;
};

TEST(CueMatch, FindsCuesByPositionPunctuationAndTableOrder) {
    using enum Strength;
    using enum Position;
    const std::vector<FindRow> rows = {
        // A lone "no" needs its own comma.
        {"Monday, no Tuesday", 1, std::nullopt},
        {"Monday, no, Tuesday", 1, CueMatch{1, 2, weak, afterComma, {"no"}}},
        // "no wait" counts even mid-sentence; "actually no" does not.
        {"send it no wait keep it", 2, CueMatch{2, 4, strong, bare, {"no", "wait"}}},
        {"send it actually no keep it", 2, std::nullopt},
        // A comma inside a cue is fine, anything else is not.
        {"Anna, sorry, I meant Maria", 1,
         CueMatch{1, 4, strong, afterComma, {"sorry", "i", "meant"}}},
        {"Monday, make, that Tuesday", 1, CueMatch{1, 3, strong, afterComma, {"make", "that"}}},
        {"Monday, make; that Tuesday", 1, std::nullopt},
        // After the inner-trail rule fails, the words can still chain as two cues.
        {"Anna, sorry; I meant Maria", 1,
         CueMatch{1, 4, strong, afterComma, {"sorry", "i", "meant"}}},
        // Scratch that: followed by clause punctuation or nothing.
        {"buy milk scratch that buy bread", 2, std::nullopt},
        {"buy milk. Scratch that buy bread", 2, std::nullopt},
        {"buy milk. Scratch that. Buy bread", 2,
         CueMatch{2, 4, scratch, sentenceStart, {"scratch", "that"}}},
        {"buy milk, scratch that, buy bread", 2,
         CueMatch{2, 4, scratch, afterComma, {"scratch", "that"}}},
        {"buy milk. Scratch that", 2, CueMatch{2, 4, scratch, sentenceStart, {"scratch", "that"}}},
        // Chained cues are one strong cue and need no comma after the last.
        {"Monday, no, wait, sorry, Tuesday", 1,
         CueMatch{1, 4, strong, afterComma, {"no", "wait", "sorry"}}},
        {"Monday, no, sorry Tuesday", 1, CueMatch{1, 3, strong, afterComma, {"no", "sorry"}}},
        {"Monday, actually Tuesday", 1, CueMatch{1, 2, weak, afterComma, {"actually"}}},
        // A sentence end stops the chain.
        {"Monday, no wait. Sorry, Tuesday", 1, CueMatch{1, 3, strong, afterComma, {"no", "wait"}}},
        {"Monday, no. Wait, Tuesday", 1, std::nullopt},
        {"Actually, let's go", 0, CueMatch{0, 1, weak, sentenceStart, {"actually"}}},
        {"the correction was right", 1, std::nullopt},
        {"Monday, correction, Tuesday", 1, CueMatch{1, 2, strong, afterComma, {"correction"}}},
        {"Monday, correction Tuesday", 1, std::nullopt},
        {"it is fine", 9, std::nullopt},
    };
    for (const auto& [text, index, expected] : rows) {
        EXPECT_EQ(CueMatch::find(Token::split(text), index), expected) << text;
    }
}

TEST(CueMatch, RegionsAndRepairs) {
    struct Row {
        std::string text;
        std::size_t index;
        std::optional<std::string> region;
        std::string repair;
    };
    const std::vector<Row> rows = {
        {"Send it Monday, no, Tuesday.", 3, "Send it Monday,", "Tuesday."},
        {"Hi. Send it Monday, no, Tuesday, please.", 4, "Send it Monday,", "Tuesday,"},
        {"Buy milk. Scratch that. Buy bread.", 2, "Buy milk.", "Buy bread."},
        {"Buy milk. Get eggs. Scratch that.", 4, "Get eggs.", ""},
        {"send it no wait keep it", 2, "send it", "keep it"},
        // Nothing to take back at the start, nor after a question.
        {"Actually, let's go.", 0, std::nullopt, "let's go."},
        {"Is it Monday? No, Tuesday.", 3, std::nullopt, "Tuesday."},
        {"Is it Monday! No, Tuesday.", 3, std::nullopt, "Tuesday."},
    };
    for (const auto& [text, index, region, repair] : rows) {
        const auto tokens = Token::split(text);
        const auto match = CueMatch::find(tokens, index);
        ASSERT_TRUE(match) << text;
        const auto range = match->takenBackRegion(tokens);
        EXPECT_EQ(range ? std::optional(words(tokens, *range)) : std::nullopt, region) << text;
        EXPECT_EQ(words(tokens, match->repair(tokens)), repair) << text;
    }
}

} // namespace
