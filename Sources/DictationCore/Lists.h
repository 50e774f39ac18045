#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Enumerations spoken in running text ("first ... second ...", "number one ... number two ...",
// "one, ... two, ...", "bullet point ... bullet point ...") rewritten as a numbered or bulleted
// list, with the words before it as an introduction line and the words after it as a paragraph.
namespace Lists {

// The ways of speaking a list, in the order they are tried.
enum class Family { ordinals, numbered, cardinals, bullets };
inline constexpr std::array<Family, 4> families{Family::ordinals, Family::numbered,
                                                Family::cardinals, Family::bullets};

// One spoken list marker: the bytes of the whole match and the item number it says (0 for a
// bullet).
struct Marker {
    struct Range {
        std::size_t start = 0;
        std::size_t end = 0;
        bool operator==(const Range&) const = default;
    };
    Range range;
    int position = 0;
    bool operator==(const Marker&) const = default;
};

struct Items {
    std::vector<std::string> items;
    // What follows the list's last sentence, as its own paragraph.
    std::string rest;
    bool operator==(const Items&) const = default;
};

// The text with the first family that yields a list rewritten; else the text unchanged.
std::string apply(std::string_view text);

// Whether a numbered marker at byte `at` may start an item: it opens the text or follows
// punctuation, possibly with "and", "then" or "also" in between.
bool startsClause(std::string_view text, std::size_t at);
// Bullets as found; numbered markers from the first 1, each next one counting up by one.
std::vector<Marker> inOrder(const std::vector<Marker>& markers, bool numbered);
// The text between markers as items; the last item ends at its first sentence end.
Items items(std::string_view text, const std::vector<Marker>& markers);
// One item: trimmed, without a trailing joining word or final period, capitalised.
std::string item(std::string_view text);
// The words before the list, ending in ":" unless they end in "?" or "!"; empty if none.
std::string introduction(std::string_view text);
// A signed decimal number or "one" to "ten" in any case; 0 for anything else.
int number(std::string_view word);

} // namespace Lists
