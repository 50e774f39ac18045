#include "SelfCorrection.h"

#include <gtest/gtest.h>

namespace {

TEST(SelfCorrection, CorrectedDaysTimesNumbersAndNames) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        // A value of the same kind replaces the nearest one before the cue.
        {"Send it Monday, no, Tuesday.", "Send it Tuesday."},
        {"Let's meet Monday at noon, no, Tuesday.", "Let's meet Tuesday at noon."},
        {"The call is at 3, no, 4 pm.", "The call is at 4 pm."},
        {"Meet me at 10:30, sorry, 11.", "Meet me at 11."},
        {"The deadline is March 3rd, no, April 3rd.", "The deadline is April 3rd."},
        {"We need five, no, wait, sorry, six chairs.", "We need six chairs."},
        {"Let's meet Monday. Actually, Tuesday.", "Let's meet Tuesday."},
        // The last words before the cue give way; names replace names.
        {"Call Anna, sorry, Maria.", "Call Maria."},
        {"bring the red folder, sorry, blue folder.", "bring the blue folder."},
        {"Send the quarterly budget report, sorry, forecast.",
         "Send the quarterly budget forecast."},
        // The speaker starts again from a word already said.
        {"I'll send it Monday, I mean, I'll send it Tuesday.", "I'll send it Tuesday."},
        {"Send it to John no wait to Peter.", "Send it to Peter."},
        {"Please email the big report, or rather, the summary.", "Please email the summary."},
        // Scratch that takes back the sentence before.
        {"Buy milk. Scratch that. Buy bread.", "Buy bread."},
        {"Buy milk, strike that, buy bread.", "buy bread."},
        {"Send it Monday, no, Tuesday. Buy milk. Scratch that. Buy bread.",
         "Send it Tuesday. Buy bread."},
    };
    for (const auto& [spoken, expected] : rows) {
        EXPECT_EQ(SelfCorrection::resolve(spoken), expected) << spoken;
    }
}

TEST(SelfCorrection, LeavesTextAloneWhenTheCorrectionIsUnclear) {
    for (const std::string text : {
             "It works, I mean, it doesn't.",
             "Buy milk. Scratch that.",
             "Actually, let's go.",
             "Is it Monday? No, Tuesday.",
             "Monday, no Tuesday.",
             "Let's meet Monday. Actually, I think we should wait.",
             "Put tax forms in the blue box, sorry, red box.",
             "I said no to the offer and wait for the next one.",
             "  well  this   stays\tas is, with no cue ",
         }) {
        EXPECT_EQ(SelfCorrection::resolve(text), text);
    }
}

TEST(SelfCorrection, AnAppliedCueNormalisesSpacing) {
    EXPECT_EQ(SelfCorrection::resolve("  Send  it\tMonday,  no,\nTuesday. "), "Send it Tuesday.");
}

TEST(SelfCorrection, TriesAtMostTwelveCues) {
    std::string unanswerable;
    for (int i = 0; i < 11; ++i) {
        unanswerable += "Really? No, fine. ";
    }
    const std::string correction = "Send it Monday, no, Tuesday.";
    const std::string eleven = unanswerable + correction;
    EXPECT_EQ(SelfCorrection::resolve(eleven),
              unanswerable.substr(0, unanswerable.size() - 1) + " Send it Tuesday.");
    const std::string twelve = "Really? No, fine. " + eleven;
    EXPECT_EQ(SelfCorrection::resolve(twelve), twelve);
}

TEST(SelfCorrection, DozensOfCuesFinishAndKeepEveryCorrection) {
    std::string text;
    for (int i = 0; i < 60; ++i) {
        text += "no, wait, sorry, scratch that, no no, I mean, actually, ";
    }
    text += "done.";
    const std::string resolved = SelfCorrection::resolve(text);
    EXPECT_LE(resolved.size(), text.size());
    EXPECT_TRUE(resolved.ends_with("done.")) << resolved;
}

} // namespace
