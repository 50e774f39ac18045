#include "CleanupGuard.h"
#include "CorrectionGuard.h"
#include "SelfCorrection.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

TEST(CleanupGuard, WordsAreFoldedRunsOfLettersDigitsAndApostrophes) {
    EXPECT_EQ(CleanupGuard::words("Don\u2019t STOP\u2014now, 'quoted' ok? 3.5 caf\u00e9"),
              (Words{"don't", "stop", "now", "quoted", "ok", "3", "5", "caf\u00e9"}));
    EXPECT_EQ(CleanupGuard::words("... -- ''"), Words{});
}

TEST(CleanupGuard, CollapseDropsFillersCutOffStartsAndRepeats) {
    const std::vector<std::pair<Words, Words>> rows = {
        {{"um", "so", "uh", "we", "go", "hmm"}, {"so", "we", "go"}},
        {{"w", "what", "time"}, {"what", "time"}},
        {{"w", "w", "what"}, {"what"}},
        {{"x", "marks", "it"}, {"x", "marks", "it"}},
        {{"a", "apple"}, {"a", "apple"}},
        {{"i", "i", "think"}, {"i", "think"}},
        {{"5", "50"}, {"5", "50"}},
        {{"the", "the", "the", "end"}, {"the", "end"}},
        {{"can", "you", "can", "you", "send", "it"}, {"can", "you", "send", "it"}},
        {{"one", "two", "three", "four", "one", "two", "three", "four"},
         {"one", "two", "three", "four"}},
        {{"a", "b", "c", "d", "e", "a", "b", "c", "d", "e"},
         {"a", "b", "c", "d", "e", "a", "b", "c", "d", "e"}},
        // Said twice on purpose.
        {{"we", "had", "had", "enough"}, {"we", "had", "had", "enough"}},
        {{"no", "no", "stop"}, {"no", "no", "stop"}},
        {{"that", "that", "is"}, {"that", "that", "is"}},
        {{"had", "it", "had", "it"}, {"had", "it"}},
    };
    for (const auto& [in, out] : rows) {
        EXPECT_EQ(CleanupGuard::collapse(in), out) << testing::PrintToString(in);
    }
}

TEST(CleanupGuard, AcceptsAFaithfulEditAndRefusesARephrasedOne) {
    struct Row {
        std::string reference, candidate;
        bool faithful;
    };
    const std::vector<Row> rows = {
        {"Um so I I think we should go.", "So I think we should go.", true},
        {"W what time is it?", "What time is it?", true},
        {"can you can you send it", "Can you send it?", true},
        {"I was, like, really tired", "I was really tired.", true},
        {"it\u2019s fine", "It's fine.", true},
        {"Send the report.", "I can't send reports.", false},
        {"We had had enough.", "We had enough.", false},
        {"Can you send me the notes today?", "Sure, here are the notes.", false},
        {"what time is it in Tokyo", "It is 3 pm in Tokyo.", false},
        {"send the report today", "today send the report", false},
        {"um", "", false},
        {"...", "...", false},
        {"Hi there.", "?!", false},
    };
    for (const auto& [reference, candidate, faithful] : rows) {
        EXPECT_EQ(CleanupGuard::isFaithful(candidate, reference), faithful)
            << reference << " / " << candidate;
    }
}

TEST(CorrectionGuard, ChoicesComeFromStrongAndScratchCuesOnly) {
    using Ranges = std::vector<TokenRange>;
    const auto choices = [](std::string_view text) {
        return CorrectionGuard::correctionChoices(Token::split(text));
    };
    EXPECT_EQ(choices("Meet at the cafe, no wait, at the park."),
              (std::vector<Ranges>{{{3, 6}, {2, 6}, {1, 6}, {0, 6}}}));
    // One word of repair: only the word before the cue.
    EXPECT_EQ(choices("Meet at the cafe, no wait, park."), (std::vector<Ranges>{{{3, 6}}}));
    EXPECT_EQ(choices("Buy milk. Scratch that. Buy bread."), (std::vector<Ranges>{{{0, 4}}}));
    EXPECT_EQ(choices("Send it Monday, no, Tuesday."), std::vector<Ranges>{});
    EXPECT_EQ(choices("Is it Monday? No wait, Tuesday."), std::vector<Ranges>{});
    EXPECT_EQ(choices("Send it Monday, no wait,"), std::vector<Ranges>{});
    // Long repairs reach back at most eight words, and never past the sentence.
    const auto long_ = choices("Fine. a b c d e f g h i j, or rather, k l m n o p.");
    ASSERT_EQ(long_.size(), 1u);
    EXPECT_EQ(long_[0].size(), 8u);
    EXPECT_EQ(long_[0].back(), (TokenRange{3, 13}));
    EXPECT_EQ(choices("Fine. a b, or rather, k l m n o p.")[0].back(), (TokenRange{1, 5}));
}

TEST(CorrectionGuard, WithoutACandidateTheRulesDecide) {
    EXPECT_EQ(CorrectionGuard::choose(std::nullopt, "Send it Monday, no, Tuesday."),
              (CorrectionGuard::Choice{"Send it Tuesday.", false}));
    EXPECT_EQ(CorrectionGuard::choose(std::nullopt, "no  cue  here"),
              (CorrectionGuard::Choice{"no  cue  here", false}));
}

TEST(CorrectionGuard, ACandidateIsUsedOnlyWhenItKeepsTheWords) {
    struct Row {
        std::string raw, candidate;
        CorrectionGuard::Choice expected;
    };
    const std::vector<Row> rows = {
        // The rules changed nothing: the candidate must match the raw words.
        {"um so I think we should go",
         "So I think we should go.",
         {"So I think we should go.", true}},
        {"can you send me the notes today",
         "Sure, here are the notes.",
         {"can you send me the notes today", false}},
        // The rules corrected the text: the candidate must match the correction.
        {"Send it Monday, no, Tuesday.", "Send it Tuesday!", {"Send it Tuesday!", true}},
        {"Send it Monday, no, Tuesday.",
         "Send it Monday, no, Tuesday!",
         {"Send it Tuesday.", false}},
        // A strong cue the rules could not place: dropping an allowed span is fine.
        {"Book the hotel, no wait, we should take the train.",
         "We should take the train.",
         {"We should take the train.", true}},
        // Dropping the span brings ", like," together, which the guard sets aside as spoken;
        // without a comma before it the word stays.
        {"We need, uh, milk, or rather, like, oat milk.",
         "We need oat milk.",
         {"We need oat milk.", true}},
        {"We need milk, or rather, like, oat milk.",
         "We need oat milk.",
         {"We need milk, or rather, like, oat milk.", false}},
        {"Book the hotel, no wait, we should take the train.",
         "Book the train.",
         {"Book the hotel, no wait, we should take the train.", false}},
    };
    for (const auto& [raw, candidate, expected] : rows) {
        EXPECT_EQ(CorrectionGuard::choose(candidate, raw), expected) << raw << " / " << candidate;
    }
}

// Four cues, each allowing eight spans: 6561 combinations, more than the search may count.
std::string fourLongCorrections() {
    const std::vector<std::string> letters = {"a", "b", "c", "d"};
    std::string text;
    for (const auto& l : letters) {
        for (int w = 1; w <= 8; ++w) {
            text += l + "word" + std::to_string(w) + (w == 8 ? ", no wait, " : " ");
        }
        for (int w = 1; w <= 6; ++w) {
            text += l + "fix" + std::to_string(w) + (w == 6 ? ". " : " ");
        }
    }
    return text;
}

TEST(CorrectionGuard, TheSearchStaysWithinItsBounds) {
    const std::string raw = fourLongCorrections();
    ASSERT_EQ(CorrectionGuard::correctionChoices(Token::split(raw)).size(), 4u);
    ASSERT_EQ(CorrectionGuard::correctionChoices(Token::split(raw))[3].size(), 8u);

    // Dropping the last cue's whole span is among the first combinations tried.
    const std::string lastFixed =
        raw.substr(0, raw.find("dword1")) + "dfix1 dfix2 dfix3 dfix4 dfix5 dfix6.";
    EXPECT_TRUE(CorrectionGuard::isFaithfulCorrection(lastFixed, raw));
    // Dropping every cue's whole span is the very last combination: past the limit.
    const std::string allFixed = "afix1 afix2 afix3 afix4 afix5 afix6. bfix1 bfix2 bfix3 bfix4 "
                                 "bfix5 bfix6. cfix1 cfix2 cfix3 cfix4 cfix5 cfix6. dfix1 dfix2 "
                                 "dfix3 dfix4 dfix5 dfix6.";
    EXPECT_FALSE(CorrectionGuard::isFaithfulCorrection(allFixed, raw));

    // A fifth cue puts the transcript out of the search's reach.
    EXPECT_FALSE(
        CorrectionGuard::isFaithfulCorrection(lastFixed, "Buy milk. Scratch that. " + raw));
    EXPECT_FALSE(CorrectionGuard::isFaithfulCorrection("no cue at all", "no cue at all"));
}

TEST(CorrectionGuard, DozensOfCuesStillGiveAnAnswer) {
    std::string raw;
    for (int i = 0; i < 40; ++i) {
        raw += "send the file, no wait, sorry, the folder, scratch that, ";
    }
    raw += "thanks.";
    const std::string resolved = SelfCorrection::resolve(raw);
    EXPECT_NE(resolved, raw);
    EXPECT_EQ(CorrectionGuard::choose(resolved, raw), (CorrectionGuard::Choice{resolved, true}));
    EXPECT_EQ(CorrectionGuard::choose("thanks.", raw), (CorrectionGuard::Choice{resolved, false}));
    EXPECT_FALSE(CorrectionGuard::isFaithfulCorrection(raw, raw)) << "too many cues to search";
}

} // namespace
