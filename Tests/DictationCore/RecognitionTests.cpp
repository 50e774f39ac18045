// The rules for asking the speech engine: the encoder context a clip gets, transcripts that
// loop, and the time a request may take once the engine's speed is known.
#include "Recognition.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace std::chrono_literals;
using Recognition::EngineSpeed;

TEST(EncoderContext, FollowsTheClipWithAMarginAFloorAndTheFullWindowNearThirtySeconds) {
    const struct {
        double seconds;
        int frames;
    } rows[] = {
        {0.0, 256},               // nothing recorded: the floor
        {0.2, 256},               // a tap's worth
        {3.8, 256},               // 190 + 64 = 254, up to the floor
        {3.9, 264},               // 195 + 64 = 259, up to the next multiple of 8
        {5.0, 320},               // 250 + 64 = 314 -> 320
        {12.0, 664},              // a live-words window
        {15.0, 816},              // 750 + 64 = 814 -> 816
        {26.5, 1392},             // 1325 + 64 = 1389 -> 1392, the longest cut
        {26.6, 0},                // 1330 + 64 = 1394 -> 1400: near the window, so the full context
        {29.9, 0},    {300.0, 0}, // hands-free: whisper walks the clip in full windows
        {-1.0, 256},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Recognition::contextFor(row.seconds), row.frames) << row.seconds << " s";
    }
}

TEST(EncoderContext, EveryCutContextIsAMultipleOfEightAboveTheFloor) {
    for (double seconds = 0; seconds < 30; seconds += 0.013) {
        const int frames = Recognition::contextFor(seconds);
        if (frames == 0) {
            EXPECT_GT(seconds * 50 + 64, 1392) << seconds;
            continue;
        }
        EXPECT_EQ(frames % 8, 0) << seconds;
        EXPECT_GE(frames, 256) << seconds;
        // Every frame of the clip is inside the context, with the margin after it.
        EXPECT_GE(frames, seconds * 50 + 64) << seconds;
        EXPECT_LT(frames, 1400) << seconds;
    }
}

TEST(Loops, RepeatedRunsAndImpossibleWordCountsAreLoopsWhileSpeechIsNot) {
    const struct {
        const char* transcript;
        double seconds;
        bool loops;
    } rows[] = {
        {"Send it to Maria by Tuesday.", 3, false},
        {"", 5, false},
        {"no no no, not that one", 3, false}, // three of one word is speech
        {"very very very very good", 3, false},
        {"go go go go go", 3, true},                                          // five of one word
        {"Thank you. Thank you. Thank you.", 5, true},                        // a pair three times
        {"thank you thank you", 5, false},                                    // twice is speech
        {"I'm going to I'm going to I'm going to the shop", 5, true},         // a triple
        {"One, two, three. One, two, three. ONE two THREE", 8, true},         // case and marks
        {"a b c d e f g h a b c d e f g h a b c d e f g h", 20, true},        // eight words
        {"a b c d e f g h i a b c d e f g h i a b c d e f g h i", 30, false}, // nine: not checked
        {"the cat sat on the mat and the dog sat on the rug", 5, false},
        // Seven words a second at most (over at least one second).
        {"one two three four five six seven", 0.5, false},
        {"one two three four five six seven eight", 0.5, true},
        {"w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 w11 w12 w13 w14", 2, false},
        {"w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 w11 w12 w13 w14 w15", 2, true},
        {"... - ...", 1, false}, // marks alone are no words
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Recognition::repeatsItself(row.transcript, row.seconds), row.loops)
            << '"' << row.transcript << "\" over " << row.seconds << " s";
    }
}

TEST(EngineSpeed, UnmeasuredItWaitsTheCeilingAndKnowsNoEstimate) {
    const EngineSpeed speed;
    EXPECT_EQ(speed.estimate(320), std::nullopt);
    EXPECT_EQ(speed.limit(320), EngineSpeed::ceilingLimit);
    EXPECT_EQ(speed.limit(0), EngineSpeed::ceilingLimit);
}

TEST(EngineSpeed, LimitsFollowTheSlowestRecentRateWithinTheFloorAndCeiling) {
    const struct {
        const char* machine;
        int frames;
        std::chrono::milliseconds elapsed;
        int askedFrames;
        std::chrono::milliseconds estimate, limit;
    } rows[] = {
        // 320 frames in 1.6 s: 5 ms a frame.
        {"fast", 320, 1600ms, 320, 1600ms, 30'000ms},            // 4 * 1.6 s + 10 s, at the floor
        {"fast, full window", 320, 1600ms, 0, 7500ms, 40'000ms}, // 4 * 7.5 s + 10 s
        // 320 frames in 5 s on two cores: a full window may take 4 * 23.4 s + 10 s.
        {"two cores", 320, 5000ms, 0, 23'438ms, 103'750ms},
        // So slow that even the limit stops at the ceiling.
        {"crawling", 256, 60'000ms, 0, 351'563ms, 300'000ms},
    };
    for (const auto& row : rows) {
        EngineSpeed speed;
        speed.record(row.frames, row.elapsed);
        EXPECT_EQ(speed.estimate(row.askedFrames), row.estimate) << row.machine;
        EXPECT_EQ(speed.limit(row.askedFrames), row.limit) << row.machine;
    }
}

TEST(EngineSpeed, EstimatesTakeTheMedianAndLimitsTheSlowestOfTheLastEight) {
    EngineSpeed speed;
    // One stall (a busy machine) among quick answers: 1, 1, 1, 10 ms a frame.
    for (const auto elapsed : {256ms, 256ms, 2560ms, 256ms}) {
        speed.record(256, elapsed);
    }
    EXPECT_EQ(speed.estimate(100), 100ms);
    EXPECT_EQ(speed.limit(1000), 50'000ms); // 4 * 10 ms * 1000 + 10 s
    // Eight quick answers later the stall is forgotten.
    for (int i = 0; i < 8; ++i) {
        speed.record(256, 256ms);
    }
    EXPECT_EQ(speed.limit(1000), 30'000ms);
    EXPECT_EQ(speed.estimate(0), 1500ms);
}

} // namespace
