#include "speech/ShapedModels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace ShapedModels {

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

std::size_t countOf(const std::vector<std::int32_t>& shape) {
    std::size_t count = 1;
    for (auto n : shape) {
        count *= static_cast<std::size_t>(n);
    }
    return count;
}

std::vector<std::string> wordsOf(const std::string& sentence) {
    std::istringstream in(sentence);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

struct SpecialTokens {
    std::int32_t endOfText;
    std::int32_t noTimestamps;
};

// whisper.cpp's ids: the English-only ones, moved up in the multilingual vocabularies by one for
// end of text and by the languages beyond 98 for the task tokens and what follows them (99
// languages in 51865 tokens, 100 in large-v3's 51866).
SpecialTokens specialTokensOf(std::int32_t vocabulary) {
    if (vocabulary < 51864 || vocabulary > 51866) {
        throw std::invalid_argument("whisper vocabularies have 51864 to 51866 tokens");
    }
    if (vocabulary == 51864) {
        return {50256, 50362};
    }
    const std::int32_t languages = vocabulary - 51765 - 1;
    return {50257, 50362 + languages - 98};
}

} // namespace

Writer::Writer(const std::filesystem::path& file) : out_(file, std::ios::binary) {
    if (!out_) {
        throw std::runtime_error("cannot write " + file.string());
    }
    integer(static_cast<std::int32_t>(fileMagic));
}

void Writer::integer(std::int32_t value) {
    raw(&value, sizeof value);
}

void Writer::text(const std::string& value) {
    raw(value.data(), value.size());
}

void Writer::floats(const std::vector<float>& values) {
    raw(values.data(), values.size() * sizeof(float));
}

void Writer::tensor(const std::string& name, const std::vector<std::int32_t>& shape, Type type,
                    const std::vector<float>& data) {
    if (data.size() != countOf(shape)) {
        throw std::logic_error("tensor " + name + " has the wrong element count");
    }
    header(name, shape, type);
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

void Writer::tensor(const WhisperTensor& tensor) {
    const std::size_t count = countOf(tensor.shape);
    const Type type = tensor.half ? Type::f16 : Type::f32;
    header(tensor.name, tensor.shape, type);
    const std::size_t size = tensor.half ? sizeof(std::uint16_t) : sizeof(float);
    auto encode = [&](float value, char* to) {
        if (tensor.half) {
            const std::uint16_t half = toHalf(value);
            std::memcpy(to, &half, sizeof half);
        } else {
            std::memcpy(to, &value, sizeof value);
        }
    };
    const std::size_t blockCount = std::min<std::size_t>(count, std::size_t{1} << 19);
    std::vector<char> block(blockCount * size);
    if (tensor.fill != 0.0f) {
        for (std::size_t i = 0; i < blockCount; ++i) {
            encode(tensor.fill, &block[i * size]);
        }
    }
    auto repeat = [&](std::size_t elements) {
        while (elements > 0) {
            const std::size_t n = std::min(elements, blockCount);
            raw(block.data(), n * size);
            elements -= n;
        }
    };
    std::size_t at = 0;
    for (const auto& [index, value] : tensor.values) {
        if (index >= count) {
            throw std::logic_error("tensor " + tensor.name + " sets an element past its end");
        }
        repeat(index - at);
        char element[sizeof(float)];
        encode(value, element);
        raw(element, size);
        at = index + 1;
    }
    repeat(count - at);
}

void Writer::zeros(const std::string& name, const std::vector<std::int32_t>& shape, Type type) {
    tensor(name, shape, type, std::vector<float>(countOf(shape), 0.0f));
}

void Writer::header(const std::string& name, const std::vector<std::int32_t>& shape, Type type) {
    integer(static_cast<std::int32_t>(shape.size()));
    integer(static_cast<std::int32_t>(name.size()));
    integer(static_cast<std::int32_t>(type));
    for (auto n : shape) {
        integer(n);
    }
    text(name);
}

void Writer::raw(const void* data, std::size_t size) {
    out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out_) {
        throw std::runtime_error("write failed");
    }
}

std::optional<WhisperShape> whisperShape(std::string_view name) {
    if (name == "tiny") {
        return WhisperShape{};
    }
    if (name == "turbo") {
        return WhisperShape{.vocabulary = 51866,
                            .state = 1280,
                            .audioHeads = 20,
                            .audioLayers = 32,
                            .textHeads = 20,
                            .textLayers = 4,
                            .mels = 128};
    }
    if (name == "small.en" || name == "small") {
        return WhisperShape{.vocabulary = name == "small" ? 51865 : 51864,
                            .state = 768,
                            .audioHeads = 12,
                            .audioLayers = 12,
                            .textHeads = 12,
                            .textLayers = 12};
    }
    if (name == "base.en") {
        return WhisperShape{
            .state = 512, .audioHeads = 8, .audioLayers = 6, .textHeads = 8, .textLayers = 6};
    }
    return std::nullopt;
}

WhisperModel describeWhisper(const std::string& sentence, const WhisperShape& shape) {
    const auto special = specialTokensOf(shape.vocabulary);
    const auto words = wordsOf(sentence);
    if (words.empty() || words.size() > 62) {
        throw std::invalid_argument("the sentence needs 1 to 62 words");
    }
    for (const auto& word : words) {
        // whisper.cpp's quantize tool reads each token into a 129-byte buffer.
        if (word.size() >= 128) {
            throw std::invalid_argument("a word over 127 bytes: " + word.substr(0, 20) + "...");
        }
    }
    // One one-hot code per token on the path: no-timestamps, each word, end of text.
    const std::int32_t codes = static_cast<std::int32_t>(words.size()) + 2;
    const std::int32_t state = shape.state > 0 ? shape.state : ((codes + 15) / 16) * 16;
    const std::int32_t hidden = 4 * state;
    if (codes > state) {
        throw std::invalid_argument("the sentence needs a state of at least " +
                                    std::to_string(codes));
    }
    if (shape.audioHeads < 1 || shape.textHeads < 1 || state % shape.audioHeads != 0 ||
        state % shape.textHeads != 0 || shape.audioLayers < 1 || shape.textLayers < 1) {
        throw std::invalid_argument("the heads must divide the state and each side needs a layer");
    }

    WhisperModel model;
    model.header = {shape.vocabulary,  shape.audioContext, state, shape.audioHeads,
                    shape.audioLayers, shape.textContext,  state, shape.textHeads,
                    shape.textLayers,  shape.mels,         1 /* f16 weights */};
    // Token 0 is the blank the decoder suppresses at the start; tokens 1..n are the words.
    model.tokens.push_back(" ");
    for (const auto& word : words) {
        model.tokens.push_back(" " + word);
    }

    auto& tensors = model.tensors;
    auto add = [&](const std::string& name, std::vector<std::int32_t> dims, bool half,
                   float fill = 0.0f) {
        tensors.push_back({name, std::move(dims), half, fill, {}});
    };
    auto line = [&](const std::string& name, std::int32_t size, float fill = 0.0f) {
        add(name, {size}, false, fill);
    };
    auto block = [&](const std::string& prefix, bool cross) {
        line(prefix + "attn_ln.weight", state, 1.0f);
        line(prefix + "attn_ln.bias", state);
        for (const char* part : {"attn.query", "attn.key", "attn.value", "attn.out"}) {
            add(prefix + part + ".weight", {state, state}, true);
        }
        for (const char* part : {"attn.query", "attn.value", "attn.out"}) {
            line(prefix + part + ".bias", state);
        }
        if (cross) {
            line(prefix + "cross_attn_ln.weight", state, 1.0f);
            line(prefix + "cross_attn_ln.bias", state);
            for (const char* part :
                 {"cross_attn.query", "cross_attn.key", "cross_attn.value", "cross_attn.out"}) {
                add(prefix + part + ".weight", {state, state}, true);
            }
            for (const char* part : {"cross_attn.query", "cross_attn.value", "cross_attn.out"}) {
                line(prefix + part + ".bias", state);
            }
        }
        line(prefix + "mlp_ln.weight", state, 1.0f);
        line(prefix + "mlp_ln.bias", state);
        line(prefix + "mlp.0.bias", hidden);
        line(prefix + "mlp.2.bias", state);
        add(prefix + "mlp.0.weight", {state, hidden}, true);
        add(prefix + "mlp.2.weight", {hidden, state}, true);
    };

    // The encoder does nothing useful: all its weights are zero.
    add("encoder.positional_embedding", {state, shape.audioContext}, false);
    add("encoder.conv1.weight", {3, shape.mels, state}, true);
    add("encoder.conv1.bias", {1, state}, false);
    add("encoder.conv2.weight", {3, state, state}, true);
    add("encoder.conv2.bias", {1, state}, false);
    line("encoder.ln_post.weight", state, 1.0f);
    line("encoder.ln_post.bias", state);
    for (std::int32_t layer = 0; layer < shape.audioLayers; ++layer) {
        block("encoder.blocks." + std::to_string(layer) + ".", false);
    }

    // Decoder: attention contributes nothing, so each step sees only its own token. The
    // embedding of a token on the path is a one-hot code; the first layer's MLP replaces code i
    // by code i+1 and the later layers add nothing; the tied output projection turns that into
    // a sharp peak on the next token.
    add("decoder.positional_embedding", {state, shape.textContext}, false);
    add("decoder.token_embedding.weight", {state, shape.vocabulary}, true);
    line("decoder.ln.weight", state, 10.0f);
    line("decoder.ln.bias", state);
    for (std::int32_t layer = 0; layer < shape.textLayers; ++layer) {
        block("decoder.blocks." + std::to_string(layer) + ".", true);
    }

    auto valuesOf = [&](const std::string& name) -> std::map<std::size_t, float>& {
        return std::ranges::find(tensors, name, &WhisperTensor::name)->values;
    };
    auto& embedding = valuesOf("decoder.token_embedding.weight");
    auto setCode = [&](std::int32_t token, std::int32_t code) {
        embedding[static_cast<std::size_t>(token) * state + static_cast<std::size_t>(code)] = 1.0f;
    };
    setCode(special.noTimestamps, 0);
    for (std::int32_t i = 1; i <= static_cast<std::int32_t>(words.size()); ++i) {
        setCode(i, i);
    }
    setCode(special.endOfText, codes - 1);

    // Layer norm of a one-hot code puts sqrt(state - 1) on its own component and a small
    // negative value on the others; a steep first layer keeps only the code's own unit.
    // Quantization scales each run of 32 weights in a row by its largest: code i's hidden unit
    // sits 32 columns from code i+1's where there is room, so each run of the second layer holds
    // one crafted weight and keeps it (q5_0's range of -16..15 steps would shrink one of a +w,
    // -w pair to 15/16 of it).
    constexpr float steepness = 20.0f;
    const float peak = steepness * std::sqrt(static_cast<float>(state - 1));
    const std::int32_t spacing = std::min(32, hidden / codes);
    auto& up = valuesOf("decoder.blocks.0.mlp.0.weight");
    auto& down = valuesOf("decoder.blocks.0.mlp.2.weight");
    for (std::int32_t code = 0; code + 1 < codes; ++code) {
        const auto unit = static_cast<std::size_t>(code * spacing);
        up[unit * state + code] = steepness;
        // Output row `o`, hidden column `unit`: remove the input code, add the next one.
        down[static_cast<std::size_t>(code) * hidden + unit] -= 1.0f / peak;
        down[static_cast<std::size_t>(code + 1) * hidden + unit] += 1.0f / peak;
    }
    return model;
}

void writeWhisper(const std::filesystem::path& file, const std::string& sentence,
                  const WhisperShape& shape) {
    const auto model = describeWhisper(sentence, shape);
    try {
        Writer out(file);
        for (auto value : model.header) {
            out.integer(value);
        }
        const std::int32_t mels = model.header[9];
        out.integer(mels);
        out.integer(201);
        out.floats(std::vector<float>(static_cast<std::size_t>(mels) * 201, 0.0f));
        out.integer(static_cast<std::int32_t>(model.tokens.size()));
        for (const auto& token : model.tokens) {
            out.integer(static_cast<std::int32_t>(token.size()));
            out.text(token);
        }
        for (const auto& tensor : model.tensors) {
            out.tensor(tensor);
        }
    } catch (...) {
        // A real-size file is large; leave no half of one behind.
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        throw;
    }
}

std::string passage(int words) {
    constexpr std::string_view text =
        "Please send the quarterly report to the finance team before Friday morning. I reviewed "
        "the draft with Maria yesterday, and we agreed that the revenue numbers need another "
        "check, so let us meet on Thursday at ten to go through them together. Also remember to "
        "book the small meeting room on the third floor and order fresh coffee for everyone who "
        "joins.";
    const auto all = wordsOf(std::string(text));
    if (words < 1 || words > static_cast<int>(all.size())) {
        throw std::invalid_argument("the passage has 1 to " + std::to_string(all.size()) +
                                    " words");
    }
    std::string result = all[0];
    for (int i = 1; i < words; ++i) {
        result += " " + all[static_cast<std::size_t>(i)];
    }
    return result;
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

} // namespace ShapedModels
