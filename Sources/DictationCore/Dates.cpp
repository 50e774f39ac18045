#include "Dates.h"

#include <cmath>
#include <ctime>

namespace Dates {

double toReferenceSeconds(Timestamp time) {
    using namespace std::chrono;
    return duration<double>(time.time_since_epoch()).count() - referenceOffset;
}

Timestamp fromReferenceSeconds(double seconds) {
    using namespace std::chrono;
    if (!std::isfinite(seconds)) {
        seconds = 0;
    }
    return Timestamp(
        duration_cast<Timestamp::duration>(duration<double>(seconds + referenceOffset)));
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
