#include "TestModels.h"

#include "ProcessRunner.h"

#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace TestModels {

namespace {

using ShapedModels::Type;
using ShapedModels::Writer;

std::string lastLineOf(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text.substr(text.find_last_of('\n') + 1); // npos + 1 is the start
}

} // namespace

void quantizeWhisper(const std::filesystem::path& tool, const std::filesystem::path& input,
                     const std::filesystem::path& output, const std::string& type) {
    const auto result = runProcess({tool.string(), input.string(), output.string(), type},
                                   {{"GGML_NO_BACKTRACE", "1"}});
    if (result.status != 0) {
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
        const auto reason = lastLineOf(result.err);
        throw std::runtime_error(tool.filename().string() + " exited with status " +
                                 std::to_string(result.status) +
                                 (reason.empty() ? "" : ": " + reason));
    }
    std::filesystem::remove(input);
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
