#include "SpeechModels.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using SpeechModels::Timing;

constexpr std::string_view turbo = "ggml-large-v3-turbo-q5_0.bin";
constexpr std::string_view smallEnglish = "ggml-small.en-q8_0.bin";
constexpr std::string_view small = "ggml-small-q8_0.bin";
constexpr std::string_view baseEnglish = "ggml-base.en-q8_0.bin";

TEST(SpeechModelsTest, TheChoiceIsTheMostAccurateFastEnoughElseTheFastest) {
    const struct {
        const char* name;
        std::vector<Timing> timings;
        std::string_view language;
        std::string_view chosen;
    } cases[] = {
        {"a graphics card runs them all fast",
         {{turbo, 0.4}, {smallEnglish, 0.2}, {small, 0.2}, {baseEnglish, 0.1}},
         "en",
         turbo},
        {"two cores: small English is within the target",
         {{turbo, 5.1}, {smallEnglish, 1.3}, {small, 1.4}, {baseEnglish, 0.3}},
         "en",
         smallEnglish},
        {"exactly the target counts", {{turbo, 1.5}}, "en", turbo},
        {"only base English is fast enough",
         {{turbo, 9.0}, {smallEnglish, 2.4}, {small, 2.5}, {baseEnglish, 0.6}},
         "en",
         baseEnglish},
        {"none fast enough: the fastest",
         {{turbo, 20.0}, {smallEnglish, 6.0}, {small, 6.2}, {baseEnglish, 1.9}},
         "en",
         baseEnglish},
        {"German never gets an English-only model",
         {{turbo, 5.1}, {smallEnglish, 1.3}, {small, 1.4}, {baseEnglish, 0.3}},
         "de",
         small},
        {"German, none fast enough", {{turbo, 9.0}, {small, 2.2}, {baseEnglish, 0.3}}, "de", small},
        {"a recognised language is not English", {{smallEnglish, 0.3}}, "auto", turbo},
        {"a failed measurement does not count",
         {{turbo, std::nullopt}, {smallEnglish, 2.0}, {baseEnglish, std::nullopt}},
         "en",
         smallEnglish},
        {"nothing measured: the standard model", {{turbo, std::nullopt}}, "en", turbo},
        {"no timings at all", {}, "fr", turbo},
        {"a file the catalog does not list is ignored", {{"ggml-tiny.bin", 0.01}}, "en", turbo},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SpeechModels::choose(c.timings, c.language).file, c.chosen) << c.name;
    }
}

TEST(SpeechModelsTest, TimingsSurviveTheSettingsFileAndOddValuesAreDropped) {
    const std::vector<Timing> timings{{turbo, 6.437}, {smallEnglish, std::nullopt}, {"x.bin", 1.0}};
    const std::string text = SpeechModels::encodeTimings(timings);
    EXPECT_EQ(text, "ggml-large-v3-turbo-q5_0.bin=6.44,ggml-small.en-q8_0.bin=-");
    const struct {
        const char* text;
        std::vector<std::pair<std::string_view, std::optional<double>>> decoded;
    } cases[] = {
        {"ggml-large-v3-turbo-q5_0.bin=6.44,ggml-small.en-q8_0.bin=-",
         {{turbo, 6.44}, {smallEnglish, std::nullopt}}},
        {"", {}},
        {"ggml-base.en-q8_0.bin=0.45,nonsense,=3,ggml-tiny.bin=0.1", {{baseEnglish, 0.45}}},
        {"ggml-base.en-q8_0.bin=abc,ggml-small-q8_0.bin=-2,ggml-small.en-q8_0.bin=inf",
         {{baseEnglish, std::nullopt}, {small, std::nullopt}, {smallEnglish, std::nullopt}}},
        {"ggml-base.en-q8_0.bin=1.5junk", {{baseEnglish, std::nullopt}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<std::string_view, std::optional<double>>> got;
        for (const auto& timing : SpeechModels::decodeTimings(c.text)) {
            got.emplace_back(timing.file, timing.seconds);
        }
        EXPECT_EQ(got, c.decoded) << c.text;
    }
}

} // namespace
