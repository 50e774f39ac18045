#include "VoiceScore.h"

#include <gtest/gtest.h>

namespace {

using Tokens = std::vector<std::string>;

TEST(VoiceScore, TokensAreLowerCaseWordsWithSpokenNumbersAsDigits) {
    const struct {
        const char* text;
        Tokens tokens;
    } cases[] = {
        {"Let's move the meeting to three thirty on Friday.",
         {"let's", "move", "the", "meeting", "to", "3", "30", "on", "friday"}},
        {"lets move the meeting to 3:30 on friday",
         {"lets", "move", "the", "meeting", "to", "3", "30", "on", "friday"}},
        {"at 330", {"at", "3", "30"}},
        {"Our revenue grew 20% compared", {"our", "revenue", "grew", "20", "percent", "compared"}},
        {"twenty PERCENT", {"20", "percent"}},
        {"I\u2019d rather", {"i'd", "rather"}},
        {"Three things matter most: speed, quality and trust.",
         {"3", "things", "matter", "most", "speed", "quality", "and", "trust"}},
        {"threes thirtyish 3330", {"threes", "thirtyish", "3330"}},
        {"Straße ÉCOLE naïve", {"straße", "école", "naïve"}},
        {"  -- ... !? ", {}},
        {"", {}},
        {"a\xff"
         "b",
         {"a", "b"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VoiceScore::tokens(c.text), c.tokens) << c.text;
        EXPECT_EQ(VoiceScore::wordCount(c.text), static_cast<int>(c.tokens.size())) << c.text;
    }
}

TEST(VoiceScore, ErrorsAreTheWordEditDistance) {
    const struct {
        const char* expected;
        const char* heard;
        int errors;
    } cases[] = {
        {"Let's move the meeting to three thirty on Friday.",
         "lets move the meeting to 3:30 on friday", 1},
        {"Can you send me the latest draft before lunch?",
         "Can you send me the latest draft before lunch.", 0},
        {"the quick reply", "the reply", 1},       // a word missed
        {"the reply", "the quick quick reply", 2}, // words added
        {"ship the fix on Thursday", "ship a fix on Tuesday", 2},
        {"one two three", "", 3},
        {"", "so much heard here", 4},
        {"", "", 0},
        {"a b c d", "d c b a", 4},
        {"Our revenue grew twenty percent", "our revenue grew 20%", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VoiceScore::errors(c.expected, c.heard), c.errors)
            << c.expected << " / " << c.heard;
    }
}

TEST(VoiceScore, CandidatesAreLongUnheardWordsEachFollowedByItsPhrase) {
    const struct {
        const char* expected;
        const char* heard;
        Tokens candidates;
    } cases[] = {
        // Short words (to, on, 3, 30) and heard words (move) are no candidates.
        {"Let's move the meeting to three thirty on Friday.",
         "lets move the meting to 3:30",
         {"let's", "let's move", "meeting", "meeting to", "friday"}},
        {"I'll follow up with Sarah and Brian tomorrow morning.",
         "I'll follow up with Sara and Brain tomorrow morning.",
         {"sarah", "sarah and", "brian", "brian tomorrow"}},
        // A word heard anywhere counts as heard; repeats stay.
        {"draft draft lunch", "lunch", {"draft", "draft draft", "draft", "draft lunch"}},
        {"Stop the server, clear the cache and try again.",
         "Stop the server, clear the cache and try again.",
         {}},
        {"The research paper", "", {"research", "research paper", "paper"}},
        {"", "anything", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VoiceScore::candidates(c.expected, c.heard), c.candidates) << c.expected;
    }
}

TEST(VoiceScore, LongTranscriptsAreScoredWithoutTrouble) {
    std::string heard;
    for (int i = 0; i < 5000; ++i) {
        heard += "word ";
    }
    EXPECT_EQ(VoiceScore::errors("word", heard), 4999);
    EXPECT_EQ(VoiceScore::errors(heard, ""), 5000);
}

} // namespace
