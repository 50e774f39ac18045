#pragma once

#include "RawValues.h"

#include <string>

// The user's writing style for one group of apps.
enum class WritingStyle { polished, relaxed, lowercase };

namespace WritingStyles {
inline constexpr RawValues<WritingStyle, 3> raw{{{
    {WritingStyle::polished, "polished"},
    {WritingStyle::relaxed, "relaxed"},
    {WritingStyle::lowercase, "lowercase"},
}}};
inline constexpr auto allCases = raw.allCases();
inline constexpr std::string_view rawValue(WritingStyle s) {
    return raw.rawValue(s);
}
inline constexpr std::optional<WritingStyle> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}

// Polished leaves the text; relaxed drops one final period (not an ellipsis); lowercase does
// that and lower-cases everything.
std::string apply(WritingStyle style, std::string_view text);
} // namespace WritingStyles
