#include "SpeechCheck.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// What the voice-activity tool prints with -np.
constexpr const char* noSpeech = "\nDetected 0 speech segments:\n\n";
constexpr const char* twoSegments = "\nDetected 2 speech segments:\n"
                                    "Speech segment 0: start = 3.00, end = 67.00\n"
                                    "Speech segment 1: start = 87.00, end = 173.00\n\n";
// What it prints for an option it does not know, with exit status 0.
constexpr const char* usage =
    "error: unknown argument: -vspd\n\nusage: whisper-vad-speech-segments "
    "[options] file\nsupported audio formats: flac, mp3, ogg, wav\n";

TEST(SpeechCheck, ReadsTheSegmentCountOrNothing) {
    const std::vector<std::pair<std::string, std::optional<int>>> rows = {
        {noSpeech, 0},
        {twoSegments, 2},
        {"Detected 12 speech segments:", 12},
        {"noise\nDetected 0 speech segments", 0},
        {usage, std::nullopt},
        {"", std::nullopt},
        {"error: failed to read audio data", std::nullopt},
        {"Detected  speech segments:", std::nullopt},
        {"Detected -1 speech segments:", std::nullopt},
        {"Detected 3 segments:", std::nullopt},
        {"Detected 99999999999999999999 speech segments:", std::nullopt},
        // A later well-formed line still counts.
        {"Detected x speech segments\nDetected 4 speech segments:", 4},
    };
    for (const auto& [output, expected] : rows) {
        EXPECT_EQ(SpeechCheck::segmentCount(output), expected) << output;
    }
}

TEST(SpeechCheck, SilentOnlyForZeroSegmentsAndUndecidedWithoutAResult) {
    EXPECT_EQ(SpeechCheck::isSilent(noSpeech), true);
    EXPECT_EQ(SpeechCheck::isSilent(twoSegments), false);
    EXPECT_EQ(SpeechCheck::isSilent("Detected 10 speech segments:"), false);
    EXPECT_EQ(SpeechCheck::isSilent(usage), std::nullopt) << "a usage text is not speech";
}

TEST(SpeechCheck, LoudnessFallbackUsesTheLargestAbsoluteSample) {
    const std::vector<std::pair<std::vector<float>, bool>> rows = {
        {{}, true},
        {{0.0f, 0.0f}, true},
        {{0.0099f, -0.0099f}, true},
        {{0.0f, 0.01f}, false},
        {{0.0f, -0.01f}, false},
        {{0.001f, -0.5f, 0.001f}, false},
    };
    for (const auto& [samples, quiet] : rows) {
        EXPECT_EQ(SpeechCheck::isQuiet(samples), quiet) << samples.size() << " samples";
    }
}

TEST(SpeechCheck, ArgumentsUseTheDurationOptionTheToolKnows) {
    EXPECT_EQ(
        SpeechCheck::arguments("/opt/vad", "/tmp/a.wav", "/m/silero.bin"),
        (std::vector<std::string>{"/opt/vad", "-f", "/tmp/a.wav", "-vm", "/m/silero.bin", "-vt",
                                  "0.3", "--vad-min-speech-duration-ms", "100", "-np"}));
}

} // namespace
