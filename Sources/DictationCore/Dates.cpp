#include "Dates.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace Dates {

namespace {

using Nanoseconds = std::chrono::nanoseconds;
constexpr std::int64_t perSecond = 1'000'000'000;
constexpr auto reference = Nanoseconds(static_cast<std::int64_t>(referenceOffset) * perSecond);
// About 290 years either way: inside what a nanosecond clock can hold.
constexpr double limit = 9.0e9;

} // namespace

// Whole seconds and the fraction are converted apart, so a number read from a file comes back
// as the same number when it is written again.
double toReferenceSeconds(Timestamp time) {
    const std::int64_t count =
        (std::chrono::duration_cast<Nanoseconds>(time.time_since_epoch()) - reference).count();
    std::int64_t whole = count / perSecond;
    std::int64_t rest = count % perSecond;
    if (rest < 0) {
        whole -= 1;
        rest += perSecond;
    }
    return static_cast<double>(whole) + static_cast<double>(rest) / perSecond;
}

Timestamp fromReferenceSeconds(double seconds) {
    if (!std::isfinite(seconds)) {
        seconds = 0;
    }
    seconds = std::clamp(seconds, -limit, limit);
    const double whole = std::floor(seconds);
    const auto count =
        static_cast<std::int64_t>(whole) * perSecond + std::llround((seconds - whole) * perSecond);
    return Timestamp(
        std::chrono::duration_cast<Timestamp::duration>(reference + Nanoseconds(count)));
}

std::string iso8601(Timestamp time) {
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(time));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(text, length);
}

} // namespace Dates
