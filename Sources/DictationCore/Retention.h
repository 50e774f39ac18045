#pragma once

#include "Dates.h"
#include "RawValues.h"

#include <chrono>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

struct Dictation;

// How long dictations are kept in the history.
enum class Retention { off, day, month, forever };

namespace Retentions {
inline constexpr RawValues<Retention, 4> raw{{{
    {Retention::off, "off"},
    {Retention::day, "day"},
    {Retention::month, "month"},
    {Retention::forever, "forever"},
}}};
inline constexpr auto allCases = raw.allCases();
inline constexpr std::string_view rawValue(Retention r) {
    return raw.rawValue(r);
}
inline constexpr std::optional<Retention> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}

// What the privacy settings offer.
inline constexpr std::string_view label(Retention r) {
    switch (r) {
    case Retention::off:
        return "Don't save";
    case Retention::day:
        return "24 hours";
    case Retention::month:
        return "30 days";
    case Retention::forever:
        return "Until I delete it";
    }
    return {};
}

// The age a record must stay below to be kept; nothing for no limit.
inline constexpr std::optional<std::chrono::seconds> maximumAge(Retention r) {
    switch (r) {
    case Retention::off:
        return std::chrono::seconds(0);
    case Retention::day:
        return std::chrono::seconds(86'400);
    case Retention::month:
        return std::chrono::seconds(2'592'000);
    case Retention::forever:
        break;
    }
    return std::nullopt;
}

// Whether a record dated `date` is still kept at `now`: its age is below the maximum, so with
// `off` only records dated after `now` are.
inline bool isKept(Retention r, Timestamp date, Timestamp now) {
    const auto limit = maximumAge(r);
    return !limit || now - date < *limit;
}

// The records that are kept, in their order.
std::vector<Dictation> keep(Retention r, std::span<const Dictation> records, Timestamp now);

} // namespace Retentions
