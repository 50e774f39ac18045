#pragma once

#include "RawValues.h"

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
} // namespace Retentions
