#include "VoiceScore.h"

#include "Characters.h"
#include "Text.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <unordered_set>
#include <utility>

namespace VoiceScore {
namespace {

// Spoken forms the sentences use, as the engine tends to write them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> numbers{{
    {"three", "3"},
    {"thirty", "30"},
    {"twenty", "20"},
    {"330", "3 30"},
}};

bool isWordCharacter(char32_t c) {
    return c == U'\'' || Characters::isLetter(c) || Characters::isNumeric(c);
}

void addRun(std::string run, std::vector<std::string>& tokens) {
    for (const auto& [spoken, written] : numbers) {
        if (run == spoken) {
            run = written;
            break;
        }
    }
    std::size_t start = 0;
    while (start <= run.size()) {
        const std::size_t end = std::min(run.find(' ', start), run.size());
        if (end > start) {
            tokens.push_back(run.substr(start, end - start));
        }
        start = end + 1;
    }
}

std::size_t characterCount(std::string_view token) {
    std::size_t count = 0;
    Characters::forEachCharacter(token, [&](std::size_t, std::size_t, char32_t) { ++count; });
    return count;
}

} // namespace

std::vector<std::string> tokens(std::string_view text) {
    std::string prepared;
    prepared.reserve(text.size());
    const std::string lower = Text::lowercased(text);
    constexpr std::string_view rightQuote = "\u2019";
    for (std::size_t i = 0; i < lower.size();) {
        if (lower.compare(i, rightQuote.size(), rightQuote) == 0) {
            prepared += '\'';
            i += rightQuote.size();
        } else if (lower[i] == '%') {
            prepared += " percent";
            ++i;
        } else {
            prepared += lower[i++];
        }
    }

    std::vector<std::string> tokens;
    std::string run;
    Characters::forEachCharacter(prepared, [&](std::size_t start, std::size_t end, char32_t base) {
        if (isWordCharacter(base)) {
            run.append(prepared, start, end - start);
        } else if (!run.empty()) {
            addRun(std::exchange(run, {}), tokens);
        }
    });
    if (!run.empty()) {
        addRun(std::move(run), tokens);
    }
    return tokens;
}

int wordCount(std::string_view text) {
    return static_cast<int>(tokens(text).size());
}

int errors(std::string_view expected, std::string_view heard) {
    const auto want = tokens(expected);
    const auto got = tokens(heard);
    // Two rows of the classic table: distances from the first i expected tokens.
    std::vector<int> previous(got.size() + 1);
    std::iota(previous.begin(), previous.end(), 0);
    std::vector<int> current(got.size() + 1);
    for (std::size_t i = 1; i <= want.size(); ++i) {
        current[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= got.size(); ++j) {
            const int substitution = previous[j - 1] + (want[i - 1] == got[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
        }
        std::swap(previous, current);
    }
    return previous[got.size()];
}

std::vector<std::string> candidates(std::string_view expected, std::string_view heard) {
    const auto want = tokens(expected);
    const auto got = tokens(heard);
    const std::unordered_set<std::string> wasHeard(got.begin(), got.end());
    std::vector<std::string> found;
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (characterCount(want[i]) < 4 || wasHeard.contains(want[i])) {
            continue;
        }
        found.push_back(want[i]);
        if (i + 1 < want.size()) {
            found.push_back(want[i] + " " + want[i + 1]);
        }
    }
    return found;
}

} // namespace VoiceScore
