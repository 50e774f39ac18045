#pragma once

#include "Uuid.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// A short spoken phrase and the text typed in its place.
struct Snippet {
    std::string id = Uuid::generate();
    std::string phrase;
    std::string text;

    bool operator==(const Snippet&) const = default;

    // A new snippet; the phrase's white space is collapsed to single spaces.
    static Snippet make(std::string_view phrase, std::string text);

    // A phrase, and a text that is more than white space.
    bool isValid() const;
};

// "id", "phrase" and "text", all required. Decoding keeps the stored phrase as it is.
void to_json(nlohmann::ordered_json& json, const Snippet& snippet);
void from_json(const nlohmann::ordered_json& json, Snippet& snippet);

namespace Snippets {

// What may surround a phrase when the whole dictation is compared with it: white space, line
// breaks and Unicode punctuation.
struct EdgeSet {
    bool contains(char32_t c) const;
};
inline constexpr EdgeSet edges{};

// `text` without edge characters at either end.
std::string trimmingEdges(std::string_view text);

// The text with every valid snippet's phrase replaced by its text, taken literally. A dictation
// that is nothing but one phrase (give or take edges and case) becomes exactly that snippet's
// text. Longer phrases win; phrases match across any run of white space but never inside a word.
std::string expand(std::string_view text, const std::vector<Snippet>& snippets);

// The new snippet first, then the list without any with its id or (ignoring case) its phrase.
// An invalid snippet leaves the list unchanged.
std::vector<Snippet> adding(const Snippet& snippet, std::vector<Snippet> list);

} // namespace Snippets
