#include "WavEncoder.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

std::uint32_t u32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

std::uint16_t u16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

std::int16_t sampleAt(const std::string& bytes, std::size_t index) {
    return static_cast<std::int16_t>(u16(bytes, WavEncoder::headerSize + 2 * index));
}

TEST(WavEncoder, TheHeaderIsTheCanonical44Bytes) {
    const std::vector<float> samples(3, 0.0f);
    const std::string wav = WavEncoder::encode(samples);
    ASSERT_EQ(wav.size(), 44u + 6u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(u32(wav, 4), 36u + 6u);
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(wav, 16), 16u);
    EXPECT_EQ(u16(wav, 20), 1u) << "PCM";
    EXPECT_EQ(u16(wav, 22), 1u) << "mono";
    EXPECT_EQ(u32(wav, 24), 16000u);
    EXPECT_EQ(u32(wav, 28), 32000u);
    EXPECT_EQ(u16(wav, 32), 2u);
    EXPECT_EQ(u16(wav, 34), 16u);
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(u32(wav, 40), 6u);
}

TEST(WavEncoder, NoSamplesGiveTheBareHeader) {
    const std::string wav = WavEncoder::encode({});
    ASSERT_EQ(wav.size(), 44u);
    EXPECT_EQ(u32(wav, 4), 36u);
    EXPECT_EQ(u32(wav, 40), 0u);
}

TEST(WavEncoder, SamplesAreClampedScaledAndTruncatedTowardZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<float, std::int16_t>> rows = {
        {1.5f, 32767}, {1.0f, 32767},     {0.5f, 16383},       {-1.0f, -32767}, {-2.0f, -32767},
        {0.0f, 0},     {-0.5f, -16383},   {0.99999f, 32766},   {1e-6f, 0},      {-1e-6f, 0},
        {nan, 32767},  {infinity, 32767}, {-infinity, -32767}, {0.25f, 8191},
    };
    std::vector<float> samples;
    for (const auto& [sample, expected] : rows) {
        EXPECT_EQ(WavEncoder::pcmValue(sample), expected) << sample;
        samples.push_back(sample);
    }
    const std::string wav = WavEncoder::encode(samples);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(sampleAt(wav, i), rows[i].second) << "sample " << i << " in the file";
    }
}

TEST(WavEncoder, LongRecordingsKeepEverySampleInOrder) {
    // Five minutes, a hands-free recording at its longest.
    std::vector<float> samples(300 * 16000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(std::sin(static_cast<double>(i) * 0.001));
    }
    const std::string wav = WavEncoder::encode(samples);
    ASSERT_EQ(wav.size(), 44u + 2u * samples.size());
    EXPECT_EQ(u32(wav, 40), 2u * samples.size());
    for (std::size_t i :
         {std::size_t{0}, std::size_t{1571}, samples.size() / 2, samples.size() - 1}) {
        EXPECT_EQ(sampleAt(wav, i), WavEncoder::pcmValue(samples[i])) << i;
    }
}

} // namespace
