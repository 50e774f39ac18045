#pragma once

#include "RawValues.h"

// The user's writing style for one group of apps.
enum class WritingStyle { polished, relaxed, lowercase };

namespace WritingStyles {
inline constexpr RawValues<WritingStyle, 3> raw{{{
    {WritingStyle::polished, "polished"},
    {WritingStyle::relaxed, "relaxed"},
    {WritingStyle::lowercase, "lowercase"},
}}};
inline constexpr auto allCases = raw.allCases();
inline constexpr std::string_view rawValue(WritingStyle s) { return raw.rawValue(s); }
inline constexpr std::optional<WritingStyle> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}
} // namespace WritingStyles
