#include "WavEncoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace WavEncoder {

namespace {

void put16(char* at, std::uint16_t value) {
    at[0] = static_cast<char>(value & 0xff);
    at[1] = static_cast<char>(value >> 8);
}

void put32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

} // namespace

std::int16_t pcmValue(float sample) {
    // A select rather than a branch, so the loop below vectorises. The comparison is false
    // for NaN, which therefore becomes 32767 like every sample at or above 1.
    const float clamped = sample < 1.0f ? std::max(sample, -1.0f) : 1.0f;
    return static_cast<std::int16_t>(clamped * 32767.0f);
}

std::string encode(std::span<const float> samples) {
    constexpr std::uint64_t largest = (std::numeric_limits<std::uint32_t>::max() - 36) / 2;
    if (samples.size() > largest) {
        throw std::length_error("too many samples for one WAV file");
    }
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::string bytes(headerSize + dataBytes, '\0');
    char* out = bytes.data();
    std::copy_n("RIFF", 4, out);
    put32(out + 4, 36 + dataBytes);
    std::copy_n("WAVEfmt ", 8, out + 8);
    put32(out + 16, 16);
    put16(out + 20, 1);
    put16(out + 22, 1);
    put32(out + 24, sampleRate);
    put32(out + 28, sampleRate * 2);
    put16(out + 32, 2);
    put16(out + 34, 16);
    std::copy_n("data", 4, out + 36);
    put32(out + 40, dataBytes);

    char* data = out + headerSize;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto value = static_cast<std::uint16_t>(pcmValue(samples[i]));
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(data + 2 * i, &value, 2);
        } else {
            put16(data + 2 * i, value);
        }
    }
    return bytes;
}

double secondsOf(std::string_view wav) {
    if (wav.size() <= headerSize) {
        return 0;
    }
    return static_cast<double>((wav.size() - headerSize) / sizeof(std::int16_t)) / sampleRate;
}

} // namespace WavEncoder
