#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whisper models of a real model's shape, written here in the format whisper.cpp loads: every
// tensor at its real size, so each matrix product costs what the real model's does. The
// decoder is crafted to answer a fixed sentence, whatever it hears. They time the engine on
// this computer, and let the tests run the real speech tools without a real model.
namespace ShapedModels {

// The hyper-parameters of a whisper model. The default is the tiny test model: one head, one
// layer each side, and a state just wide enough for the sentence (`state` 0).
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
// Writes it; a failure throws and leaves no file.
void writeWhisper(const std::filesystem::path& file, const std::string& sentence,
                  const WhisperShape& shape = {});

// The first `words` words (1 to 62) of a fixed, ordinary dictated passage; 12 and 42 end a
// sentence.
std::string passage(int words);

// A voice-activity model that reports speech wherever the signal has audible energy and none
// in silence or near-silence; it costs the speech check what the real one does.
void writeVoiceActivity(const std::filesystem::path& file);

enum class Type : std::int32_t { f32 = 0, f16 = 1 };

// Little-endian ggml writer: the magic number, header values, then named tensors. Throws
// std::runtime_error when the file cannot be written.
class Writer {
  public:
    explicit Writer(const std::filesystem::path& file);

    void integer(std::int32_t value);
    void text(const std::string& value);
    void floats(const std::vector<float>& values);
    // Dimensions in ggml order: the fastest-moving first.
    void tensor(const std::string& name, const std::vector<std::int32_t>& shape, Type type,
                const std::vector<float>& data);
    // Streams a tensor of one repeated value with a few elements set, never holding more than
    // a block of it.
    void tensor(const WhisperTensor& tensor);
    void zeros(const std::string& name, const std::vector<std::int32_t>& shape, Type type);

  private:
    void header(const std::string& name, const std::vector<std::int32_t>& shape, Type type);
    void raw(const void* data, std::size_t size);

    std::ofstream out_;
};

} // namespace ShapedModels
