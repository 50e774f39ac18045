#include "SpeechCheck.h"

#include <cmath>
#include <limits>

namespace SpeechCheck {

std::vector<std::string> arguments(const std::string& tool, const std::string& wavFile,
                                   const std::string& modelFile) {
    // The minimum speech duration goes by its long name: the short "-vspd" is unknown to the
    // tool, which then prints its usage and exits 0 without a result.
    return {tool,
            "-f",
            wavFile,
            "-vm",
            modelFile,
            "-vt",
            std::string(threshold),
            "--vad-min-speech-duration-ms",
            std::string(minSpeechMs),
            "-np"};
}

std::optional<int> segmentCount(std::string_view output) {
    constexpr std::string_view prefix = "Detected ", suffix = " speech segments";
    for (auto at = output.find(prefix); at != std::string_view::npos;
         at = output.find(prefix, at + 1)) {
        std::size_t i = at + prefix.size();
        long long count = 0;
        const std::size_t digits = i;
        while (i < output.size() && output[i] >= '0' && output[i] <= '9' &&
               count <= std::numeric_limits<int>::max()) {
            count = count * 10 + (output[i] - '0');
            ++i;
        }
        if (i > digits && count <= std::numeric_limits<int>::max() &&
            output.substr(i, suffix.size()) == suffix) {
            return static_cast<int>(count);
        }
    }
    return std::nullopt;
}

std::optional<bool> isSilent(std::string_view output) {
    const auto count = segmentCount(output);
    if (!count) {
        return std::nullopt;
    }
    return *count == 0;
}

bool isQuiet(std::span<const float> samples) {
    float loudest = 0;
    for (float sample : samples) {
        loudest = std::max(loudest, std::fabs(sample));
    }
    return samples.empty() || loudest < quietLevel;
}

} // namespace SpeechCheck
