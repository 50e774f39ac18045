#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

// The record key. Each desktop backend maps its own key codes onto these values.
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

// "fn, right-option, right-command or right-control".
const std::string& spokenList();

} // namespace HotKeys
