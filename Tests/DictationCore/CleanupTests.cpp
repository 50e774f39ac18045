#include "Cleanup.h"

#include <gtest/gtest.h>

namespace {

TEST(Cleanup, WordsAreRunsOfNonSpaceOfAnyKind) {
    EXPECT_EQ(Cleanup::wordCount(""), 0);
    EXPECT_EQ(Cleanup::wordCount("  \n\t "), 0);
    EXPECT_EQ(Cleanup::wordCount("one"), 1);
    EXPECT_EQ(Cleanup::wordCount(" one  two\nthree\u2028four\u00a0five "), 5);
    EXPECT_EQ(Cleanup::wordCount("don't stop—now, ok?"), 3);
}

TEST(Cleanup, TranscriptsOverSeveralLinesBecomeOneLine) {
    EXPECT_EQ(Cleanup::normalizeTranscript(" Hello there.\n  How are you? \n"),
              "Hello there. How are you?");
    EXPECT_EQ(Cleanup::normalizeTranscript("a\r\n\r\n\tb\u2029c\u0085d"), "a b c d");
    EXPECT_EQ(Cleanup::normalizeTranscript(" \n \n"), "");
    // Spaces inside a line are the engine's own and stay.
    EXPECT_EQ(Cleanup::normalizeTranscript("  two  spaces  "), "two  spaces");
}

TEST(Cleanup, BlankAudioCountsAsEmptyOnlyExactly) {
    EXPECT_TRUE(Cleanup::isEmptyTranscript(""));
    EXPECT_TRUE(Cleanup::isEmptyTranscript(" \n "));
    EXPECT_TRUE(Cleanup::isEmptyTranscript("  [BLANK_AUDIO] \n"));
    EXPECT_FALSE(Cleanup::isEmptyTranscript("[blank_audio]"));
    EXPECT_FALSE(Cleanup::isEmptyTranscript("[BLANK_AUDIO] hello"));
    EXPECT_FALSE(Cleanup::isEmptyTranscript("."));
}

TEST(Cleanup, OnlyFiveWordsOrMoreAreCleanedAndOnlyWhenEnabled) {
    EXPECT_FALSE(Cleanup::shouldClean("um so I think", true));
    EXPECT_TRUE(Cleanup::shouldClean("um so I think so", true));
    EXPECT_FALSE(Cleanup::shouldClean("um so I think so", false));
}

} // namespace
