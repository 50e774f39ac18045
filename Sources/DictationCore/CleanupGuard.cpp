#include "CleanupGuard.h"

#include "Characters.h"
#include "CorrectionCues.h"
#include "Regex.h"

#include <algorithm>

namespace CleanupGuard {

namespace {

template <std::size_t N> bool isIn(const std::string_view (&list)[N], std::string_view word) {
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

// ", like," as an interjection, which the filler pass removes too.
std::string withoutInterjectedLike(std::string_view text) {
    static const Regex interjection("(?i),\\s+like,(?=\\s)");
    return interjection.replacingAllLiterally(text, "");
}

// A lone letter (not "a" or "i") that the next different word starts with: a cut-off start.
bool isCutOffStart(const std::vector<std::string>& words, std::size_t index) {
    const std::string& word = words[index];
    std::size_t characters = 0;
    char32_t base = 0;
    Characters::forEachCharacter(word, [&](std::size_t, std::size_t, char32_t c) {
        ++characters;
        base = c;
    });
    if (characters != 1 || word == "a" || word == "i" || Characters::isNumeric(base)) {
        return false;
    }
    std::size_t next = index + 1;
    while (next < words.size() && words[next] == word) {
        ++next;
    }
    return next < words.size() && words[next].starts_with(word);
}

bool endsWithRepeat(const std::vector<std::string>& words, std::size_t length) {
    if (words.size() < 2 * length) {
        return false;
    }
    const auto tail = words.end() - static_cast<std::ptrdiff_t>(length);
    return std::equal(tail, words.end(), tail - static_cast<std::ptrdiff_t>(length));
}

} // namespace

std::vector<std::string> words(std::string_view text) {
    const std::string folded = foldedWord(text);
    std::vector<std::string> result;
    std::string current;
    const auto finish = [&] {
        const auto first = current.find_first_not_of('\'');
        if (first != std::string::npos) {
            result.push_back(current.substr(first, current.find_last_not_of('\'') + 1 - first));
        }
        current.clear();
    };
    Characters::forEachCharacter(folded, [&](std::size_t start, std::size_t end, char32_t c) {
        if (Characters::isLetter(c) || Characters::isNumeric(c) || c == U'\'') {
            current.append(folded, start, end - start);
        } else {
            finish();
        }
    });
    finish();
    return result;
}

std::vector<std::string> collapse(std::vector<std::string> words) {
    std::erase_if(words, [](const std::string& word) { return isIn(fillers, word); });
    std::vector<std::string> result;
    result.reserve(words.size());
    for (std::size_t index = 0; index < words.size(); ++index) {
        if (isCutOffStart(words, index)) {
            continue;
        }
        result.push_back(words[index]);
        const std::size_t shortest = isIn(meaningfulDoubles, words[index]) ? 2 : 1;
        for (std::size_t length = shortest; length <= 4; ++length) {
            if (endsWithRepeat(result, length)) {
                result.resize(result.size() - length);
                break;
            }
        }
    }
    return result;
}

Candidate::Candidate(std::string_view text) {
    auto candidateWords = words(withoutInterjectedLike(text));
    hasWords_ = !candidateWords.empty();
    collapsed_ = collapse(std::move(candidateWords));
}

bool Candidate::isFaithful(std::string_view reference) const {
    return hasWords_ && collapse(words(withoutInterjectedLike(reference))) == collapsed_;
}

bool isFaithful(std::string_view candidate, std::string_view reference) {
    return Candidate(candidate).isFaithful(reference);
}

} // namespace CleanupGuard
