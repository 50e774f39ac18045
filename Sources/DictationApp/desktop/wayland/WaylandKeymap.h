#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An XKB keymap of our own for a virtual keyboard: the paste chord's keys, then one keycode
// per keysym to type, each at its first level so no modifier is needed to type any character.
namespace WaylandKeymap {

using Keysym = std::uint32_t;

// Keycodes are evdev codes; XKB's are 8 higher and end at 255, where X programs under
// Xwayland stop reading.
inline constexpr std::uint32_t controlKey = 1;
inline constexpr std::uint32_t shiftKey = 2;
inline constexpr std::uint32_t vKey = 3;
inline constexpr std::uint32_t firstTypingKey = 4;
inline constexpr std::size_t maxTypingKeys = 240;

// XKB modifier masks of the standard real modifiers.
inline constexpr std::uint32_t shiftMask = 1u << 0;
inline constexpr std::uint32_t controlMask = 1u << 2;

// The keymap text, with `typing` (at most maxTypingKeys, no repeats) on the keycodes from
// firstTypingKey on.
std::string text(const std::vector<Keysym>& typing);

} // namespace WaylandKeymap
