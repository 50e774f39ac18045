#include "Vocabulary.h"

#include "Text.h"

#include <algorithm>
#include <unordered_set>

namespace Vocabulary {

namespace {

std::string_view trimSpacesAndTabs(std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

bool isListed(std::string_view term, const std::vector<std::string>& list) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& listed) {
        return Text::equalsIgnoringCase(listed, term);
    });
}

} // namespace

std::vector<std::string> terms(std::string_view text) {
    std::vector<std::string> result;
    for (auto line : Text::lines(text)) {
        const auto term = trimSpacesAndTabs(line);
        if (!term.empty() && !term.starts_with('#')) {
            result.emplace_back(term);
        }
    }
    return result;
}

std::vector<std::string> unique(std::string_view text) {
    // One set of case-folded terms: a long list is read in one pass, not compared pairwise.
    std::vector<std::string> result;
    std::unordered_set<std::string> seen;
    for (const auto& term : terms(text)) {
        std::string normalised = Text::collapsedSpaces(term);
        if (normalised.empty() || normalised.starts_with('#') ||
            !seen.insert(Text::caseFolded(normalised)).second) {
            continue;
        }
        result.push_back(std::move(normalised));
    }
    return result;
}

std::vector<std::string> adding(std::string_view term, std::vector<std::string> list) {
    std::string normalised = Text::collapsedSpaces(term);
    if (normalised.empty() || normalised.starts_with('#') || isListed(normalised, list)) {
        return list;
    }
    list.push_back(std::move(normalised));
    return list;
}

std::optional<std::string> prompt(std::string_view text) {
    const auto list = terms(text);
    if (list.empty()) {
        return std::nullopt;
    }
    std::string joined = list.front();
    for (std::size_t i = 1; i < list.size(); ++i) {
        joined += ", " + list[i];
    }
    return joined + ".";
}

} // namespace Vocabulary
