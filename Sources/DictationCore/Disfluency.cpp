#include "Disfluency.h"

#include "Graphemes.h"
#include "Regex.h"

#include <array>

namespace Disfluency {

namespace {

struct Step {
    Regex pattern;
    std::string_view replacement;
};

// In this order, each on the result of the one before. Fillers are um, uh and erm with any
// letter drawn out; hmm, ah and er are real words often enough to stay.
const std::array<Step, 5>& steps() {
    static const std::array<Step, 5> all{{
        // A comma-enclosed "like" goes with both commas.
        {Regex(R"((?i),\s+like,(?=\s))"), ""},
        // A filler right before a sentence end goes with the space and commas around it.
        {Regex(R"((?i),?\s+(?:u+m+|u+h+|e+r+m+)\b,?(?=[.!?]))"), ""},
        // A comma-led filler before a space goes with its commas.
        {Regex(R"((?i),\s+(?:u+m+|u+h+|e+r+m+)\b,?(?=\s))"), ""},
        // Any other filler goes with its comma and the space after it.
        {Regex(R"((?i)\b(?:u+m+|u+h+|e+r+m+)\b,?\s+)"), ""},
        // Two to four words said twice in a row keep the first copy.
        {Regex(R"((?i)\b([\w']+(?:\s+[\w']+){1,3}),?\s+\1\b)"), "$1"},
    }};
    return all;
}

bool endsSentence(std::string_view character) {
    return character == "." || character == "!" || character == "?";
}

// Upper-cases the first letter of the text and of every sentence that follows ". ", "! " or
// "? ". A number also counts as a sentence's start, so "3 apples" stays as it is; "a.m. " and
// "p.m. " do not end a sentence.
std::string capitalizeSentences(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    Graphemes characters(text);
    bool capitalizeNext = true;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = characters.following(start);
        const std::string_view character = text.substr(start, end - start);
        const bool letter = Graphemes::isLetter(character);
        if (capitalizeNext && letter) {
            out += Graphemes::uppercased(character);
        } else {
            out += character;
        }
        if (letter || Graphemes::isNumber(character)) {
            capitalizeNext = false;
        }
        if (endsSentence(character) && characters.characterAt(end) == " ") {
            capitalizeNext = !text.substr(0, start).ends_with(".m");
        }
        start = end;
    }
    return out;
}

} // namespace

std::string strip(std::string_view text) {
    std::string result(text);
    for (const auto& step : steps()) {
        auto next = step.pattern.tryReplacingAll(result, step.replacement);
        if (!next) {
            // Half a cleanup is worse than none: a search that ran out of time undoes the pass.
            return std::string(text);
        }
        result = std::move(*next);
    }
    return capitalizeSentences(result);
}

} // namespace Disfluency
