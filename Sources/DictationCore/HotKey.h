#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The record key. Key codes and flags are the values the desktop backend translates its
// events into, so the press rule below stays the same on every platform.
enum class HotKey { fn, rightOption, rightCommand, rightControl };

namespace HotKeys {

inline constexpr std::array<HotKey, 4> allCases{HotKey::fn, HotKey::rightOption,
                                                HotKey::rightCommand, HotKey::rightControl};

// "fn", "right-option", ...: what the command line and the "key" setting hold.
std::string_view rawValue(HotKey key);
// Case-sensitive; nothing for any other text.
std::optional<HotKey> fromRawValue(std::string_view raw);
// What the interface shows: "fn", "right Alt", "right Super", "right Ctrl".
std::string_view label(HotKey key);
std::uint16_t keyCode(HotKey key);
std::uint64_t flag(HotKey key);

// Nothing when the event is about another key; otherwise whether this key is now down.
std::optional<bool> isPressed(HotKey key, std::uint16_t keyCode, std::uint64_t flags);

// "fn, right-option, right-command or right-control".
const std::string& spokenList();

} // namespace HotKeys
