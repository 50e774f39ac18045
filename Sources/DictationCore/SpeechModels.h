#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The speech models the program offers, most accurate first, and how one is chosen for this
// computer: the most accurate whose 5 s dictation answers within `targetSeconds` as measured
// here, else the fastest.
namespace SpeechModels {

struct Model {
    // The file in the models folder, and the last part of its address.
    std::string_view file;
    std::int64_t bytes;
    std::string_view sha256;
    // What the settings show, and one line on what it is good for.
    std::string_view label;
    std::string_view description;
    // Transcribes English only.
    bool englishOnly;
    // The generated model of the same shape the measurement times, and its quantisation.
    std::string_view shape;
    std::string_view quantization;

    // Whether it transcribes `language`: the English-only ones only "en".
    bool fits(std::string_view language) const { return !englishOnly || language == "en"; }
    // The size as the settings say it, in whole megabytes.
    std::int64_t megabytes() const { return (bytes + 500'000) / 1'000'000; }
};

inline constexpr std::array<Model, 4> catalog{{
    {"ggml-large-v3-turbo-q5_0.bin", 574041195,
     "394221709cd5ad1f40c46e6031ca61bce88931e6e088c188294c6d5a55ffa7e2", "Large turbo",
     "Most accurate, in many languages. Slow without a graphics card.", false, "turbo", "q5_0"},
    {"ggml-small.en-q8_0.bin", 264477561,
     "67a179f608ea6114bd3fdb9060e762b588a3fb3bd00c4387971be4d177958067", "Small English",
     "Nearly as accurate in English, about four times faster.", true, "small.en", "q8_0"},
    {"ggml-small-q8_0.bin", 264464607,
     "49c8fb02b65e6049d5fa6c04f81f53b867b5ec9540406812c643f177317f779f", "Small",
     "Many languages, about four times faster than Large turbo.", false, "small", "q8_0"},
    {"ggml-base.en-q8_0.bin", 81781811,
     "a4d4a0768075e13cfd7e19df3ae2dbc4a68d37d36a7dad45e8410c9a34f8c87e", "Base English",
     "Fastest, in English; more words come out wrong.", true, "base.en", "q8_0"},
}};

// Where every model lives on the model host, under its base address.
inline constexpr std::string_view folder = "ggerganov/whisper.cpp/resolve/main/";

// A 5 s dictation answered within this counts as fast enough.
inline constexpr double targetSeconds = 1.5;

// Large turbo: what the program used before there was a choice, and the fallback.
const Model& standard();

// The catalog's entry for `file`; none for a file it does not list.
const Model* find(std::string_view file);

// The models that transcribe `language` ("en", "de", ...; "auto" may hear any language, so it
// gets no English-only one), most accurate first.
std::vector<const Model*> candidates(std::string_view language);

// How long a model's 5 s dictation took here; none when it could not be measured.
struct Timing {
    std::string_view file;
    std::optional<double> seconds;
};

// Among the candidates for `language`: the most accurate one measured within targetSeconds,
// else the fastest one measured, else (nothing measured) the standard model when it fits the
// language, else the first candidate.
const Model& choose(std::span<const Timing> timings, std::string_view language);

// Timings as a settings value keeps them: "file=seconds" pairs joined by ",", seconds with two
// decimals, "-" for an unmeasured model. Decoding skips files the catalog does not list and
// values that are not a time.
std::string encodeTimings(std::span<const Timing> timings);
std::vector<Timing> decodeTimings(std::string_view text);

} // namespace SpeechModels
