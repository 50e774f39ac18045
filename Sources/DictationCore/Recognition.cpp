#include "Recognition.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace Recognition {

namespace {

// Words lowered (ASCII) and stripped of the punctuation around them, so "Thanks." and "thanks"
// count as the same word.
std::vector<std::string> comparableWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
            ++at;
        }
        const std::size_t start = at;
        while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at]))) {
            ++at;
        }
        if (start == at) {
            break;
        }
        std::string word(text.substr(start, at - start));
        const auto isMark = [](unsigned char c) { return c < 0x80 && std::ispunct(c); };
        while (!word.empty() && isMark(static_cast<unsigned char>(word.back()))) {
            word.pop_back();
        }
        std::size_t lead = 0;
        while (lead < word.size() && isMark(static_cast<unsigned char>(word[lead]))) {
            ++lead;
        }
        word.erase(0, lead);
        for (char& c : word) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        // Punctuation alone ("...", "-") is no word.
        if (!word.empty()) {
            words.push_back(std::move(word));
        }
    }
    return words;
}

// The same `length` words `times` or more times back to back, anywhere in `words`.
bool repeatsRun(const std::vector<std::string>& words, std::size_t length, std::size_t times) {
    if (words.size() < length * times) {
        return false;
    }
    for (std::size_t start = 0; start + length * times <= words.size(); ++start) {
        std::size_t copies = 1;
        while (start + length * (copies + 1) <= words.size() &&
               std::equal(words.begin() + static_cast<std::ptrdiff_t>(start),
                          words.begin() + static_cast<std::ptrdiff_t>(start + length),
                          words.begin() + static_cast<std::ptrdiff_t>(start + length * copies))) {
            ++copies;
        }
        if (copies >= times) {
            return true;
        }
    }
    return false;
}

int framesOf(int frames) {
    return frames <= 0 ? fullContext : frames;
}

} // namespace

int contextFor(double seconds) {
    if (!(seconds >= 0)) {
        return floorFrames;
    }
    const double frames = std::ceil(seconds * framesPerSecond) + marginFrames;
    if (frames >= nearlyFullFrames) {
        return 0;
    }
    const int rounded = (static_cast<int>(frames) + 7) / 8 * 8;
    return rounded >= nearlyFullFrames ? 0 : std::max(rounded, floorFrames);
}

bool repeatsItself(std::string_view transcript, double seconds) {
    const auto words = comparableWords(transcript);
    if (static_cast<double>(words.size()) > maxWordsPerSecond * std::max(seconds, 1.0)) {
        return true;
    }
    // "no no no" and "very very very" are speech; five of one word in a row are not.
    if (repeatsRun(words, 1, 5)) {
        return true;
    }
    for (std::size_t length = 2; length <= 8; ++length) {
        if (repeatsRun(words, length, 3)) {
            return true;
        }
    }
    return false;
}

void EngineSpeed::record(int frames, Milliseconds elapsed) {
    rates_.push_back(static_cast<double>(elapsed.count()) / framesOf(frames));
    while (rates_.size() > remembered) {
        rates_.pop_front();
    }
}

std::optional<EngineSpeed::Milliseconds> EngineSpeed::estimate(int frames) const {
    if (rates_.empty()) {
        return std::nullopt;
    }
    std::vector<double> sorted(rates_.begin(), rates_.end());
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted.size() % 2 == 1
                              ? sorted[sorted.size() / 2]
                              : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
    return Milliseconds(static_cast<Milliseconds::rep>(std::ceil(median * framesOf(frames))));
}

EngineSpeed::Milliseconds EngineSpeed::limit(int frames) const {
    if (rates_.empty()) {
        return ceilingLimit;
    }
    const double slowest = *std::max_element(rates_.begin(), rates_.end());
    const auto expected = Milliseconds(
        static_cast<Milliseconds::rep>(std::ceil(limitFactor * slowest * framesOf(frames))));
    return std::clamp(expected + allowance, floorLimit, ceilingLimit);
}

} // namespace Recognition
