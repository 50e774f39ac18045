#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

// Enumerations stored as text: each case with its raw value, in declaration order.
template <typename Enum, std::size_t N> struct RawValues {
    std::array<std::pair<Enum, std::string_view>, N> rows;

    constexpr std::string_view rawValue(Enum value) const {
        for (const auto& [c, raw] : rows) {
            if (c == value) {
                return raw;
            }
        }
        return {};
    }

    // Case-sensitive; nothing for any other text.
    constexpr std::optional<Enum> fromRawValue(std::string_view raw) const {
        for (const auto& [c, text] : rows) {
            if (text == raw) {
                return c;
            }
        }
        return std::nullopt;
    }

    constexpr std::array<Enum, N> allCases() const {
        std::array<Enum, N> cases{};
        for (std::size_t i = 0; i < N; ++i) {
            cases[i] = rows[i].first;
        }
        return cases;
    }
};
