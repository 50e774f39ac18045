#include "TestModels.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace TestModels {

namespace {

constexpr std::uint32_t fileMagic = 0x67676d6c;

std::uint16_t toHalf(float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t sign = (bits >> 16) & 0x8000u;
    const int exponent = static_cast<int>((bits >> 23) & 0xff) - 127 + 15;
    std::uint32_t mantissa = bits & 0x7fffffu;
    if (exponent <= 0) {
        if (exponent < -10) {
            return static_cast<std::uint16_t>(sign);
        }
        mantissa |= 0x800000u;
        const int shift = 14 - exponent;
        std::uint32_t half = mantissa >> shift;
        if ((mantissa >> (shift - 1)) & 1u) {
            ++half;
        }
        return static_cast<std::uint16_t>(sign | half);
    }
    if (exponent >= 31) {
        return static_cast<std::uint16_t>(sign | 0x7c00u);
    }
    std::uint32_t half = (static_cast<std::uint32_t>(exponent) << 10) | (mantissa >> 13);
    // Round to nearest, ties to even; a carry into the exponent is still the right value.
    const std::uint32_t rest = mantissa & 0x1fffu;
    if (rest > 0x1000u || (rest == 0x1000u && (half & 1u))) {
        ++half;
    }
    return static_cast<std::uint16_t>(sign | half);
}

enum class Type : std::int32_t { f32 = 0, f16 = 1 };

// Little-endian ggml writer: header values, then named tensors.
class Writer {
  public:
    explicit Writer(const std::filesystem::path& file) : out_(file, std::ios::binary) {
        if (!out_) {
            throw std::runtime_error("cannot write " + file.string());
        }
        integer(static_cast<std::int32_t>(fileMagic));
    }

    void integer(std::int32_t value) { raw(&value, sizeof value); }
    void text(const std::string& value) { raw(value.data(), value.size()); }
    void floats(const std::vector<float>& values) {
        raw(values.data(), values.size() * sizeof(float));
    }

    // Dimensions in ggml order: the fastest-moving first.
    void tensor(const std::string& name, std::vector<std::int32_t> shape, Type type,
                const std::vector<float>& data) {
        std::size_t count = 1;
        for (auto n : shape) {
            count *= static_cast<std::size_t>(n);
        }
        if (data.size() != count) {
            throw std::logic_error("tensor " + name + " has the wrong element count");
        }
        integer(static_cast<std::int32_t>(shape.size()));
        integer(static_cast<std::int32_t>(name.size()));
        integer(static_cast<std::int32_t>(type));
        for (auto n : shape) {
            integer(n);
        }
        text(name);
        if (type == Type::f32) {
            floats(data);
        } else {
            std::vector<std::uint16_t> halves(data.size());
            for (std::size_t i = 0; i < data.size(); ++i) {
                halves[i] = toHalf(data[i]);
            }
            raw(halves.data(), halves.size() * sizeof(std::uint16_t));
        }
    }

    void zeros(const std::string& name, std::vector<std::int32_t> shape, Type type) {
        std::size_t count = 1;
        for (auto n : shape) {
            count *= static_cast<std::size_t>(n);
        }
        tensor(name, std::move(shape), type, std::vector<float>(count, 0.0f));
    }

    void filled(const std::string& name, std::int32_t size, float value) {
        tensor(name, {size}, Type::f32, std::vector<float>(static_cast<std::size_t>(size), value));
    }

  private:
    void raw(const void* data, std::size_t size) {
        out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out_) {
            throw std::runtime_error("write failed");
        }
    }
    std::ofstream out_;
};

std::vector<std::string> wordsOf(const std::string& sentence) {
    std::istringstream in(sentence);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

} // namespace

void writeWhisper(const std::filesystem::path& file, const std::string& sentence) {
    // English-only vocabulary size: the special tokens sit at fixed ids.
    constexpr std::int32_t vocabularySize = 51864;
    constexpr std::int32_t endOfText = 50256;
    constexpr std::int32_t noTimestamps = 50362;
    constexpr std::int32_t audioContext = 1500, textContext = 448, mels = 80;

    const auto words = wordsOf(sentence);
    if (words.empty() || words.size() > 62) {
        throw std::invalid_argument("the sentence needs 1 to 62 words");
    }
    // One one-hot code per token on the path: no-timestamps, each word, end of text.
    const std::int32_t codes = static_cast<std::int32_t>(words.size()) + 2;
    const std::int32_t state = ((codes + 15) / 16) * 16;
    const std::int32_t hidden = 4 * state;

    Writer out(file);
    for (std::int32_t value : {vocabularySize, audioContext, state, 1, 1, textContext, state, 1, 1,
                               mels, 1 /* f16 weights */}) {
        out.integer(value);
    }
    out.integer(mels);
    out.integer(201);
    out.floats(std::vector<float>(static_cast<std::size_t>(mels) * 201, 0.0f));

    // Token 0 is the blank the decoder suppresses at the start; tokens 1..n are the words.
    out.integer(static_cast<std::int32_t>(words.size()) + 1);
    std::vector<std::string> tokens{" "};
    for (const auto& word : words) {
        tokens.push_back(" " + word);
    }
    for (const auto& token : tokens) {
        out.integer(static_cast<std::int32_t>(token.size()));
        out.text(token);
    }

    const auto square = std::vector<std::int32_t>{state, state};
    auto block = [&](const std::string& prefix, bool cross) {
        out.filled(prefix + "attn_ln.weight", state, 1.0f);
        out.filled(prefix + "attn_ln.bias", state, 0.0f);
        for (const char* part : {"attn.query", "attn.key", "attn.value", "attn.out"}) {
            out.zeros(prefix + part + ".weight", square, Type::f16);
        }
        for (const char* part : {"attn.query", "attn.value", "attn.out"}) {
            out.filled(prefix + part + ".bias", state, 0.0f);
        }
        if (cross) {
            out.filled(prefix + "cross_attn_ln.weight", state, 1.0f);
            out.filled(prefix + "cross_attn_ln.bias", state, 0.0f);
            for (const char* part :
                 {"cross_attn.query", "cross_attn.key", "cross_attn.value", "cross_attn.out"}) {
                out.zeros(prefix + part + ".weight", square, Type::f16);
            }
            for (const char* part : {"cross_attn.query", "cross_attn.value", "cross_attn.out"}) {
                out.filled(prefix + part + ".bias", state, 0.0f);
            }
        }
        out.filled(prefix + "mlp_ln.weight", state, 1.0f);
        out.filled(prefix + "mlp_ln.bias", state, 0.0f);
        out.filled(prefix + "mlp.0.bias", hidden, 0.0f);
        out.filled(prefix + "mlp.2.bias", state, 0.0f);
    };

    // The encoder does nothing useful: all its weights are zero.
    out.zeros("encoder.positional_embedding", {state, audioContext}, Type::f32);
    out.zeros("encoder.conv1.weight", {3, mels, state}, Type::f16);
    out.zeros("encoder.conv1.bias", {1, state}, Type::f32);
    out.zeros("encoder.conv2.weight", {3, state, state}, Type::f16);
    out.zeros("encoder.conv2.bias", {1, state}, Type::f32);
    out.filled("encoder.ln_post.weight", state, 1.0f);
    out.filled("encoder.ln_post.bias", state, 0.0f);
    block("encoder.blocks.0.", false);
    out.zeros("encoder.blocks.0.mlp.0.weight", {state, hidden}, Type::f16);
    out.zeros("encoder.blocks.0.mlp.2.weight", {hidden, state}, Type::f16);

    // Decoder: attention contributes nothing, so each step sees only its own token. The
    // embedding of a token on the path is a one-hot code; the MLP replaces code i by code i+1;
    // the tied output projection turns that into a sharp peak on the next token.
    std::vector<float> embedding(static_cast<std::size_t>(state) * vocabularySize, 0.0f);
    auto setCode = [&](std::int32_t token, std::int32_t code) {
        embedding[static_cast<std::size_t>(token) * state + static_cast<std::size_t>(code)] = 1.0f;
    };
    setCode(noTimestamps, 0);
    for (std::int32_t i = 1; i <= static_cast<std::int32_t>(words.size()); ++i) {
        setCode(i, i);
    }
    setCode(endOfText, codes - 1);

    // Layer norm of a one-hot code puts sqrt(state - 1) on its own component and a small
    // negative value on the others; a steep first layer keeps only the code's own unit.
    constexpr float steepness = 20.0f;
    const float peak = steepness * std::sqrt(static_cast<float>(state - 1));
    std::vector<float> up(static_cast<std::size_t>(hidden) * state, 0.0f);
    std::vector<float> down(static_cast<std::size_t>(state) * hidden, 0.0f);
    for (std::int32_t code = 0; code + 1 < codes; ++code) {
        up[static_cast<std::size_t>(code) * state + code] = steepness;
        // Output row `o`, hidden column `code`: remove the input code, add the next one.
        down[static_cast<std::size_t>(code) * hidden + code] -= 1.0f / peak;
        down[static_cast<std::size_t>(code + 1) * hidden + code] += 1.0f / peak;
    }

    out.zeros("decoder.positional_embedding", {state, textContext}, Type::f32);
    out.tensor("decoder.token_embedding.weight", {state, vocabularySize}, Type::f16, embedding);
    out.filled("decoder.ln.weight", state, 10.0f);
    out.filled("decoder.ln.bias", state, 0.0f);
    block("decoder.blocks.0.", true);
    out.tensor("decoder.blocks.0.mlp.0.weight", {state, hidden}, Type::f16, up);
    out.tensor("decoder.blocks.0.mlp.2.weight", {hidden, state}, Type::f16, down);
}

void writeVoiceActivity(const std::filesystem::path& file) {
    constexpr std::int32_t window = 256, bins = 129, hiddenSize = 128;
    // Mean spectral magnitude that counts as sound: about what a sine of amplitude 0.1 or white
    // noise of RMS 0.012 gives; quiet espeak-ng speech (RMS 0.026) is well above, digital
    // silence gives 0.
    constexpr float energyThreshold = 0.1f;

    Writer out(file);
    const std::string type = "silero-16k";
    out.integer(static_cast<std::int32_t>(type.size()));
    out.text(type);
    for (std::int32_t value : {5, 1, 2, 512, 64, 4}) {
        out.integer(value);
    }
    const std::array<std::array<std::int32_t, 3>, 4> layers{
        {{129, 128, 3}, {128, 64, 3}, {64, 64, 3}, {64, 128, 3}}};
    for (const auto& layer : layers) {
        for (auto value : layer) {
            out.integer(value);
        }
    }
    for (std::int32_t value : {128, hiddenSize, 128, 1}) {
        out.integer(value);
    }

    // A Hann-windowed DFT: 129 real rows, then 129 imaginary rows.
    std::vector<float> basis(static_cast<std::size_t>(window) * 2 * bins);
    for (std::int32_t k = 0; k < bins; ++k) {
        for (std::int32_t n = 0; n < window; ++n) {
            const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / window);
            const double angle = 2 * std::numbers::pi * k * n / window;
            basis[static_cast<std::size_t>(k) * window + n] =
                static_cast<float>(hann * std::cos(angle));
            basis[static_cast<std::size_t>(k + bins) * window + n] =
                static_cast<float>(-hann * std::sin(angle));
        }
    }
    out.tensor("_model.stft.forward_basis_buffer", {window, 1, 2 * bins}, Type::f16, basis);

    // Channel 0 of every conv carries the mean magnitude along; the rest stay zero. The four
    // frames of a window go 4 -> 2 -> 1 -> 1 through the strided layers, each averaging the
    // pair it covers (taps 1 and 2; tap 0 reads the padding).
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const auto [in, outChannels, kernel] = layers[i];
        std::vector<float> weights(static_cast<std::size_t>(kernel) * in * outChannels, 0.0f);
        if (i == 0) {
            for (std::int32_t c = 0; c < in; ++c) {
                weights[static_cast<std::size_t>(kernel) * c + 1] = 1.0f / static_cast<float>(in);
            }
        } else if (i < 3) {
            weights[1] = 0.5f;
            weights[2] = 0.5f;
        } else {
            weights[1] = 1.0f;
        }
        const std::string name = "_model.encoder." + std::to_string(i) + ".reparam_conv.";
        out.tensor(name + "weight", {kernel, in, outChannels}, Type::f16, weights);
        out.zeros(name + "bias", {outChannels}, Type::f32);
    }

    // LSTM gates in the order input, forget, cell, output. Unit 0 forgets everything and its
    // cell follows tanh(gain * (energy - threshold)).
    constexpr float gain = 3.0f / energyThreshold;
    std::vector<float> inputWeights(static_cast<std::size_t>(hiddenSize) * 4 * hiddenSize, 0.0f);
    std::vector<float> inputBias(4 * hiddenSize, 0.0f);
    inputWeights[static_cast<std::size_t>(2 * hiddenSize) * hiddenSize] = gain;
    inputBias[0] = 20.0f;
    inputBias[hiddenSize] = -20.0f;
    inputBias[2 * hiddenSize] = -gain * energyThreshold;
    inputBias[3 * hiddenSize] = 20.0f;
    out.tensor("_model.decoder.rnn.weight_ih", {hiddenSize, 4 * hiddenSize}, Type::f32,
               inputWeights);
    out.tensor("_model.decoder.rnn.bias_ih", {4 * hiddenSize}, Type::f32, inputBias);
    out.zeros("_model.decoder.rnn.weight_hh", {hiddenSize, 4 * hiddenSize}, Type::f32);
    out.zeros("_model.decoder.rnn.bias_hh", {4 * hiddenSize}, Type::f32);

    std::vector<float> final(hiddenSize, 0.0f);
    final[0] = 30.0f;
    out.tensor("_model.decoder.decoder.2.weight", {hiddenSize, 1}, Type::f16, final);
    out.tensor("_model.decoder.decoder.2.bias", {1}, Type::f32, {-6.0f});
}

} // namespace TestModels
