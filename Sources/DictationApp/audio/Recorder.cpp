#include "audio/Recorder.h"

#include <algorithm>
#include <cmath>

float Recorder::level(std::span<const float> block) {
    if (block.empty()) {
        return 0;
    }
    double squares = 0;
    for (float sample : block) {
        squares += static_cast<double>(sample) * sample;
    }
    const double rms = std::sqrt(squares / static_cast<double>(block.size()));
    return static_cast<float>(std::min(12.0 * rms, 1.0));
}

std::vector<float> Recorder::lastSamples(std::span<const float> samples,
                                         std::optional<double> last) {
    if (!last) {
        return {samples.begin(), samples.end()};
    }
    const double wanted = std::max(0.0, sampleRate * *last);
    const auto count = wanted >= static_cast<double>(samples.size())
                           ? samples.size()
                           : static_cast<std::size_t>(wanted);
    return {samples.end() - static_cast<std::ptrdiff_t>(count), samples.end()};
}
