#pragma once

#include <optional>

// Double taps of the record key. A press shorter than `maxTap` is a tap; two taps whose
// releases are at most `maxGap` apart make a double tap.
struct TapTracker {
    static constexpr double maxTap = 0.3;
    static constexpr double maxGap = 0.45;

    // Seconds of system uptime at the last short tap's release.
    std::optional<double> lastTap;

    // Takes the uptime of a tap's release; true when it completes a double tap, which also
    // forgets it, so a third tap starts over.
    bool tap(double at);

    bool operator==(const TapTracker&) const = default;
};
