#pragma once

#include "Dates.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Glues consecutive dictations: the next one into the same app soon after starts with a space,
// unless the user typed or clicked in between.
struct Joiner {
    static constexpr std::chrono::seconds maxGap{120};

    std::optional<std::string> lastApp;
    Timestamp lastDate{}; // the distant past until the first dictation

    // The text to insert, with a leading space when it continues the last dictation.
    std::string join(std::string_view text, std::string_view app, Timestamp at);
    // The next dictation starts afresh.
    void userActed() { lastApp.reset(); }

    bool operator==(const Joiner&) const = default;
};
