#include "ScreenContext.h"
#include "TapTracker.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct Taps {
    const char* name;
    std::vector<double> releases;
    // What each release answers.
    std::vector<bool> doubles;
};

TEST(TapTracker, DoubleTapsNeedTheSecondReleaseWithinTheGap) {
    const std::vector<Taps> cases{
        {"a single tap", {10.0}, {false}},
        {"0.45 s apart", {10.0, 10.45}, {false, true}},
        {"0.46 s apart starts over", {10.0, 10.46}, {false, false}},
        {"the late tap becomes the new first tap", {10.0, 10.46, 10.8}, {false, false, true}},
        {"a third tap after a double starts over", {10.0, 10.2, 10.4}, {false, true, false}},
        {"four quick taps are two doubles", {1.0, 1.1, 1.2, 1.3}, {false, true, false, true}},
    };
    for (const auto& c : cases) {
        TapTracker taps;
        std::vector<bool> answers;
        for (double t : c.releases) {
            answers.push_back(taps.tap(t));
        }
        EXPECT_EQ(answers, c.doubles) << c.name;
    }
}

TEST(TapTracker, ADoubleTapForgetsTheLastTap) {
    TapTracker taps;
    EXPECT_EQ(taps, TapTracker{});
    taps.tap(5.0);
    EXPECT_EQ(taps.lastTap, 5.0);
    taps.tap(5.3);
    EXPECT_EQ(taps.lastTap, std::nullopt);
}

TEST(ScreenContext, NoAppIsTheUnknownAppAndAGivenWritingContextStays) {
    EXPECT_EQ(ScreenContext().appName, "unknown app");
    EXPECT_EQ(ScreenContext(), ScreenContext("unknown app"));
    const ScreenContext mail("Mail", WritingContext::email);
    EXPECT_EQ(mail.appName, "Mail");
    EXPECT_EQ(mail.writing, WritingContext::email);
    EXPECT_NE(mail, ScreenContext("Mail", WritingContext::chat));
}

} // namespace
