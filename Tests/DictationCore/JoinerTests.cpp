#include "Joiner.h"

#include <gtest/gtest.h>

namespace {

const Timestamp start = Dates::fromReferenceSeconds(780000000);

Timestamp after(double seconds) {
    return start +
           std::chrono::duration_cast<Timestamp::duration>(std::chrono::duration<double>(seconds));
}

TEST(Joiner, TheSameAppWithinTwoMinutesGetsALeadingSpace) {
    Joiner joiner;
    EXPECT_EQ(joiner.join("First.", "Kate", start), "First.");
    EXPECT_EQ(joiner.join("Second.", "Kate", after(119.9)), " Second.");
    // The gap counts from the last dictation, not the first.
    EXPECT_EQ(joiner.join("Third.", "Kate", after(239)), " Third.");
    EXPECT_EQ(joiner.join("Late.", "Kate", after(359)), "Late.") << "exactly 120 s is too late";
}

TEST(Joiner, AnotherAppOrUserActivityStartsAfresh) {
    Joiner joiner;
    joiner.join("One.", "Kate", start);
    EXPECT_EQ(joiner.join("Two.", "Slack", after(5)), "Two.");
    EXPECT_EQ(joiner.join("Three.", "Kate", after(10)), "Three.");
    joiner.userActed();
    EXPECT_EQ(joiner.join("Four.", "Kate", after(15)), "Four.");
    EXPECT_EQ(joiner.join("Five.", "Kate", after(20)), " Five.");
}

TEST(Joiner, TheFirstDictationNeverGetsASpace) {
    Joiner joiner;
    EXPECT_EQ(joiner.join("Hello", "", Dates::fromReferenceSeconds(-1e9)), "Hello");
    EXPECT_EQ(joiner.lastApp, "");
}

} // namespace
