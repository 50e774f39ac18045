#include "Paragraphs.h"

#include "Layout.h"
#include "Regex.h"
#include "Text.h"

#include <algorithm>

namespace Paragraphs {

namespace {

const Regex& sentenceBreak() {
    static const Regex pattern(R"((?<!\b[a-z]\.[a-z])(?<=[.!?])\s+(?=["“'‘(\p{Lu}\d]))");
    return pattern;
}

const Regex& topicShift() {
    static const Regex pattern(
        R"(^(?i:also|separately|additionally|finally|lastly|anyway|anyways|otherwise|meanwhile|by the way|on another note|on a separate note|on a different note|in other news|one more thing|moving on|as for|regarding|p\.?s\.?|ps|in the meantime|on top of that|besides that|next)\b)");
    return pattern;
}

void appendPiece(std::vector<std::string>& pieces, std::string_view piece) {
    std::string trimmed = Text::trimmed(piece);
    if (!trimmed.empty()) {
        pieces.push_back(std::move(trimmed));
    }
}

bool holdsList(std::string_view block) {
    for (std::size_t start = 0; start <= block.size();) {
        const std::size_t end = std::min(block.find('\n', start), block.size());
        const std::string_view line = block.substr(start, end - start);
        if (!line.empty() && Layout::isListLine(line)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

std::vector<std::string> sentences(std::string_view text) {
    std::vector<std::string> pieces;
    // Cut at the breaks themselves rather than at a marker character put in their place, so
    // that no character of the text can be mistaken for a break.
    const auto breaks = sentenceBreak().matches(text);
    std::size_t start = 0;
    for (const auto& found : breaks.value_or(std::vector<RegexMatch>{})) {
        appendPiece(pieces, text.substr(start, found.start() - start));
        start = found.end();
    }
    appendPiece(pieces, text.substr(start));
    return pieces;
}

std::string split(std::string_view text, std::optional<std::size_t> maxSentences) {
    std::vector<std::vector<std::string>> groups;
    for (auto& sentence : sentences(text)) {
        const bool startsGroup = groups.empty() || topicShift().isMatch(sentence) ||
                                 (maxSentences && groups.back().size() >= *maxSentences);
        if (startsGroup) {
            groups.emplace_back();
        }
        groups.back().push_back(std::move(sentence));
    }
    std::string out;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (g > 0) {
            out += "\n\n";
        }
        for (std::size_t s = 0; s < groups[g].size(); ++s) {
            if (s > 0) {
                out += ' ';
            }
            out += groups[g][s];
        }
    }
    return out;
}

std::string apply(std::string_view text, std::optional<std::size_t> maxSentences) {
    const auto all = Layout::blocks(text);
    std::string out;
    for (std::size_t b = 0; b < all.size(); ++b) {
        if (b > 0) {
            out += "\n\n";
        }
        out += holdsList(all[b]) ? all[b] : split(all[b], maxSentences);
    }
    return out;
}

} // namespace Paragraphs
