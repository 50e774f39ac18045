#include "Lists.h"

#include "Layout.h"
#include "Regex.h"
#include "Text.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <unicode/utf8.h>

namespace Lists {

namespace {

constexpr std::array<std::string_view, 10> ordinals{
    "first", "second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth", "tenth"};
constexpr std::array<std::string_view, 10> cardinals{"one", "two",   "three", "four", "five",
                                                     "six", "seven", "eight", "nine", "ten"};
constexpr std::array<std::string_view, 3> joiningWords{"and", "then", "also"};

// The search broke off: the whole pass leaves its text alone.
struct SearchFailed {};

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// 1-based place of `word` in `table`, any case; 0 when absent.
int placeIn(std::string_view word, const std::array<std::string_view, 10>& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (equalsIgnoringASCIICase(word, table[i])) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

struct FamilyRule {
    Regex pattern;
    bool numbered;
    int (*position)(std::string_view group);
};

const FamilyRule& rule(Family family) {
    static const std::array<FamilyRule, 4> rules{{
        {Regex(
             R"((?i)\b(first|second|third|fourth|fifth|sixth|seventh|eighth|ninth|tenth)(?:ly)?\b(?:\s+of\s+all)?)"),
         true, [](std::string_view word) { return placeIn(word, ordinals); }},
        {Regex(R"((?i)\bnumber\s+(one|two|three|four|five|six|seven|eight|nine|ten|\d{1,2})\b)"),
         true, number},
        {Regex(R"((?i)\b(one|two|three|four|five|six|seven|eight|nine|ten)\b(?=[,.:]))"), true,
         number},
        {Regex(R"((?i)\b(bullet)(?:\s+point)?\b)"), false, [](std::string_view) { return 0; }},
    }};
    return rules[static_cast<std::size_t>(family)];
}

const Regex& trailingJoiningWord() {
    static const Regex pattern(R"((?i)[,;]?\s+(?:and|then|also)$)");
    return pattern;
}

const Regex& sentenceEnd() {
    static const Regex pattern(R"([.!?](?=\s+\S))");
    return pattern;
}

bool isClausePunctuation(char c) {
    return std::string_view(".,;:!?").find(c) != std::string_view::npos;
}

// The end of `text` without white space, walking back only as far as the white space goes, so
// that asking at every marker stays linear in the text.
std::size_t endWithoutTrailingSpace(std::string_view text, std::size_t end) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    while (end > 0) {
        auto previous = static_cast<int32_t>(end);
        UChar32 c;
        U8_PREV(bytes, 0, previous, c);
        if (c < 0 || !Text::isWhitespace(static_cast<char32_t>(c))) {
            break;
        }
        end = static_cast<std::size_t>(previous);
    }
    return end;
}

// Empty, or ending in clause punctuation.
bool opensClause(std::string_view text, std::size_t end) {
    end = endWithoutTrailingSpace(text, end);
    return end == 0 || isClausePunctuation(text[end - 1]);
}

std::string withoutTrailingJoiningWord(std::string_view text) {
    return trailingJoiningWord().replacingAll(text, "");
}

std::optional<std::string> list(std::string_view text, Family family) {
    const auto& familyRule = rule(family);
    const auto found = familyRule.pattern.matches(text);
    if (!found) {
        throw SearchFailed{};
    }
    std::vector<Marker> markers;
    for (const auto& match : *found) {
        if (!familyRule.numbered || startsClause(text, match.start())) {
            markers.push_back({{match.start(), match.end()}, familyRule.position(match.group(1))});
        }
    }
    markers = inOrder(markers, familyRule.numbered);
    if (markers.size() < 2) {
        return std::nullopt;
    }
    const auto [cut, rest] = items(text, markers);
    if (std::ranges::any_of(cut, [](const std::string& i) { return i.empty(); })) {
        return std::nullopt;
    }
    std::string result = introduction(text.substr(0, markers.front().range.start));
    if (!result.empty()) {
        result += '\n';
    }
    for (std::size_t i = 0; i < cut.size(); ++i) {
        if (i > 0) {
            result += '\n';
        }
        result += familyRule.numbered ? std::to_string(i + 1) + ". " : std::string("- ");
        result += cut[i];
    }
    if (!rest.empty()) {
        result += "\n\n" + rest;
    }
    return result;
}

} // namespace

std::string apply(std::string_view text) {
    try {
        for (const Family family : families) {
            if (auto made = list(text, family)) {
                return std::move(*made);
            }
        }
    } catch (const SearchFailed&) {
    }
    return std::string(text);
}

bool startsClause(std::string_view text, std::size_t at) {
    at = std::min(at, text.size());
    const std::size_t end = endWithoutTrailingSpace(text, at);
    if (opensClause(text, end)) {
        return true;
    }
    // The last word is what follows the last space, so it is a joining word exactly when the
    // text ends in one with a space or nothing before it.
    const std::string_view before = text.substr(0, end);
    for (const std::string_view word : joiningWords) {
        if (before.size() < word.size()) {
            continue;
        }
        const std::size_t wordStart = before.size() - word.size();
        if (equalsIgnoringASCIICase(before.substr(wordStart), word) &&
            (wordStart == 0 || before[wordStart - 1] == ' ')) {
            return opensClause(text, wordStart);
        }
    }
    return false;
}

std::vector<Marker> inOrder(const std::vector<Marker>& markers, bool numbered) {
    if (!numbered) {
        return markers;
    }
    const auto first =
        std::ranges::find_if(markers, [](const Marker& m) { return m.position == 1; });
    std::vector<Marker> kept;
    for (auto marker = first; marker != markers.end(); ++marker) {
        if (kept.empty() || marker->position == static_cast<int>(kept.size()) + 1) {
            kept.push_back(*marker);
        }
    }
    return kept;
}

Items items(std::string_view text, const std::vector<Marker>& markers) {
    Items result;
    for (std::size_t k = 0; k < markers.size(); ++k) {
        const std::size_t start = markers[k].range.end;
        std::size_t end = k + 1 < markers.size() ? markers[k + 1].range.start : text.size();
        if (k + 1 == markers.size()) {
            const std::string_view last = text.substr(start);
            if (const auto stop = sentenceEnd().firstMatch(last)) {
                end = start + stop->end();
                result.rest = Text::trimmed(text.substr(end));
            }
        }
        end = std::max(end, start);
        result.items.push_back(item(text.substr(start, end - start)));
    }
    return result;
}

std::string item(std::string_view text) {
    std::string cut = Text::trimmed(text, U",:;-", true);
    cut = withoutTrailingJoiningWord(cut);
    cut = Text::trimmed(cut, U" ,;.", false);
    return Layout::capitalizeFirstLetter(cut);
}

std::string introduction(std::string_view text) {
    std::string intro = withoutTrailingJoiningWord(Text::trimmed(text));
    intro = Text::trimmed(intro, U" ,;:.", false);
    if (intro.empty() || intro.ends_with('?') || intro.ends_with('!')) {
        return intro;
    }
    return intro + ":";
}

int number(std::string_view word) {
    std::string_view digits = word;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    const bool allDigits =
        !digits.empty() && std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; });
    if (allDigits) {
        int value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc() && end == digits.data() + digits.size()) {
            return negative ? -value : value;
        }
        return 0; // too large to be a list position
    }
    return placeIn(word, cardinals);
}

} // namespace Lists
