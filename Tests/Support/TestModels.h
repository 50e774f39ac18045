#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Models in the format whisper.cpp loads, so the real speech tools run in tests and benchmarks
// without a real model.
namespace TestModels {

// The hyper-parameters of a whisper model. The default is the tiny test model: one head, one
// layer each side, and a state just wide enough for the sentence (`state` 0). The named shapes
// have every tensor at its real size, so each matrix product costs what the real model's does.
struct WhisperShape {
    std::int32_t vocabulary = 51864;
    std::int32_t state = 0; // whisper.cpp needs the audio and text states equal
    std::int32_t audioHeads = 1;
    std::int32_t audioLayers = 1;
    std::int32_t textHeads = 1;
    std::int32_t textLayers = 1;
    std::int32_t mels = 80;
    std::int32_t audioContext = 1500;
    std::int32_t textContext = 448;
};

// "tiny" (the default), "turbo" (large-v3-turbo), "small.en", "small", "base.en".
std::optional<WhisperShape> whisperShape(std::string_view name);

// One tensor as written: a constant with a few elements set, which is all a crafted model needs
// and lets a real-size file be streamed without holding it.
struct WhisperTensor {
    std::string name;
    std::vector<std::int32_t> shape; // ggml order: the fastest-moving dimension first
    bool half = false;               // f16, else f32
    float fill = 0.0f;
    std::map<std::size_t, float> values; // element index -> value, over `fill`
};

// Everything in the file but the tensor data spelled out.
struct WhisperModel {
    std::vector<std::int32_t> header; // the eleven hyper-parameters, in file order
    std::vector<std::string> tokens;
    std::vector<WhisperTensor> tensors;
};

// A whisper model whose decoder ignores the audio and the prompt and answers `sentence`, word
// for word (one token each), every time. At most 62 words.
WhisperModel describeWhisper(const std::string& sentence, const WhisperShape& shape = {});
void writeWhisper(const std::filesystem::path& file, const std::string& sentence,
                  const WhisperShape& shape = {});

// The first `words` words (1 to 62) of a fixed, ordinary dictated passage; 12 and 42 end a
// sentence.
std::string passage(int words);

// Runs whisper.cpp's quantize tool (`type` such as "q5_0" or "q8_0") on `input`, an f16 model,
// writing `output`; then removes `input`. When the tool fails, throws with its exit status and
// leaves no `output`.
void quantizeWhisper(const std::filesystem::path& tool, const std::filesystem::path& input,
                     const std::filesystem::path& output, const std::string& type);

// A voice-activity model that reports speech wherever the signal has audible energy and none
// in silence or near-silence.
void writeVoiceActivity(const std::filesystem::path& file);

} // namespace TestModels
