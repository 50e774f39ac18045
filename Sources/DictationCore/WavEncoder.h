#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The WAV bytes the speech tools read: 16-bit PCM, mono, 16 kHz, the canonical 44-byte header.
namespace WavEncoder {

inline constexpr std::uint32_t sampleRate = 16000;
inline constexpr std::size_t headerSize = 44;

// Samples in -1...1 become signed 16-bit values: 1 and above (and NaN) give 32767, -1 and
// below give -32767, everything else x * 32767 truncated toward zero. Throws std::length_error
// for more samples than a WAV header can describe.
std::string encode(std::span<const float> samples);

std::int16_t pcmValue(float sample);

// The length of the audio in bytes made by encode; 0 for anything shorter than a header.
double secondsOf(std::string_view wav);

} // namespace WavEncoder
