#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The keysyms that type a text, the same for every backend that sends keysyms.
namespace TypedKeysyms {

// The keysym that types one character; 0 for control characters, which dictated text must
// never turn into Escape or Delete. Line feeds and tabs are the Return and Tab keys.
std::uint32_t forCharacter(char32_t c);
// Every character's keysym, in order, leaving out those without one.
std::vector<std::uint32_t> forText(const std::string& utf8);

} // namespace TypedKeysyms
