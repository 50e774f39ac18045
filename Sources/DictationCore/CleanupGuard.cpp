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
bool isCutOffStart(const std::vector<std::string_view>& words, std::size_t index) {
    const std::string_view word = words[index];
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

bool endsWithRepeat(const std::vector<std::string_view>& words, std::size_t length) {
    if (words.size() < 2 * length) {
        return false;
    }
    const auto tail = words.end() - static_cast<std::ptrdiff_t>(length);
    return std::equal(tail, words.end(), tail - static_cast<std::ptrdiff_t>(length));
}

// The collapsed words as views into `words`; `spoken` is scratch space.
void collapseInto(const std::vector<std::string_view>& words, std::vector<std::string_view>& spoken,
                  std::vector<std::string_view>& result) {
    spoken.clear();
    for (const auto word : words) {
        if (!isIn(fillers, word)) {
            spoken.push_back(word);
        }
    }
    result.clear();
    for (std::size_t index = 0; index < spoken.size(); ++index) {
        if (isCutOffStart(spoken, index)) {
            continue;
        }
        result.push_back(spoken[index]);
        const std::size_t shortest = isIn(meaningfulDoubles, spoken[index]) ? 2 : 1;
        for (std::size_t length = shortest; length <= 4; ++length) {
            if (endsWithRepeat(result, length)) {
                result.resize(result.size() - length);
                break;
            }
        }
    }
}

std::vector<std::string_view> views(const std::vector<std::string>& words) {
    return {words.begin(), words.end()};
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
    std::vector<std::string_view> spoken, collapsed;
    collapseInto(views(words), spoken, collapsed);
    return {collapsed.begin(), collapsed.end()};
}

Candidate::Candidate(std::string_view text) {
    const auto candidateWords = words(withoutInterjectedLike(text));
    hasWords_ = !candidateWords.empty();
    collapsed_ = collapse(candidateWords);
}

bool Candidate::isFaithful(std::string_view reference) const {
    const auto referenceWords = words(withoutInterjectedLike(reference));
    return isFaithfulTo(views(referenceWords));
}

bool Candidate::isFaithfulTo(const std::vector<std::string_view>& referenceWords) const {
    if (!hasWords_) {
        return false;
    }
    thread_local std::vector<std::string_view> spoken, collapsed;
    collapseInto(referenceWords, spoken, collapsed);
    return std::equal(collapsed.begin(), collapsed.end(), collapsed_.begin(), collapsed_.end());
}

bool isFaithful(std::string_view candidate, std::string_view reference) {
    return Candidate(candidate).isFaithful(reference);
}

} // namespace CleanupGuard
