#include "Regex.h"

#include <algorithm>
#include <unicode/regex.h>
#include <unicode/utext.h>

namespace {

// ICU counts steps of the match engine (roughly milliseconds) over all the finds of one
// matcher, so the budget grows with the text: a pattern that costs a bounded amount per
// character always finishes, one that backtracks without bound is cut off. The base is far
// above what any real dictation needs, low enough that a pathological input cannot stall one.
constexpr int32_t baseTimeLimit = 300;
constexpr std::size_t bytesPerExtraStep = 50;

int32_t timeLimit(std::size_t textBytes) {
    const std::size_t extra = textBytes / bytesPerExtraStep;
    return baseTimeLimit + static_cast<int32_t>(std::min<std::size_t>(extra, 1'000'000));
}

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};
using UTextPointer = std::unique_ptr<UText, UTextCloser>;

// A matcher over UTF-8 text, so match positions are byte offsets into the caller's string.
struct Search {
    UTextPointer input;
    std::unique_ptr<icu::RegexMatcher> matcher;

    Search(const icu::RegexPattern& pattern, std::string_view text) {
        UErrorCode status = U_ZERO_ERROR;
        input.reset(
            utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
        matcher.reset(pattern.matcher(status));
        if (U_FAILURE(status)) {
            matcher.reset();
            return;
        }
        matcher->reset(input.get());
        matcher->setTimeLimit(timeLimit(text.size()), status);
    }

    // Each match in turn, or false at the end; `failed` is set when the search broke off.
    bool next(bool& failed) {
        UErrorCode status = U_ZERO_ERROR;
        const bool found = matcher->find(status);
        if (U_FAILURE(status)) {
            failed = true;
            return false;
        }
        return found;
    }

    RegexMatch current(std::string_view text) const {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t count = matcher->groupCount();
        std::vector<std::pair<std::int64_t, std::int64_t>> groups;
        groups.reserve(static_cast<std::size_t>(count) + 1);
        for (int32_t g = 0; g <= count; ++g) {
            groups.emplace_back(matcher->start64(g, status), matcher->end64(g, status));
        }
        return RegexMatch(text, std::move(groups));
    }
};

} // namespace

Regex::Regex(std::string_view pattern, std::uint32_t options) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError error;
    const auto source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    const uint32_t flags = (options & caseInsensitive) ? UREGEX_CASE_INSENSITIVE : 0;
    std::shared_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(source, flags, error, status));
    if (U_SUCCESS(status)) {
        pattern_ = std::move(compiled);
    }
}

std::optional<std::vector<RegexMatch>> Regex::matches(std::string_view text) const {
    if (!pattern_) {
        return std::nullopt;
    }
    Search search(*pattern_, text);
    if (!search.matcher) {
        return std::nullopt;
    }
    std::vector<RegexMatch> found;
    bool failed = false;
    while (search.next(failed)) {
        found.push_back(search.current(text));
    }
    if (failed) {
        return std::nullopt;
    }
    return found;
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text) const {
    if (!pattern_) {
        return std::nullopt;
    }
    Search search(*pattern_, text);
    bool failed = false;
    if (!search.matcher || !search.next(failed)) {
        return std::nullopt;
    }
    return search.current(text);
}

std::string Regex::replacingAll(
    std::string_view text,
    const std::function<std::optional<std::string>(const RegexMatch&)>& replace) const {
    return tryReplacingAll(text, replace).value_or(std::string(text));
}

std::optional<std::string> Regex::tryReplacingAll(
    std::string_view text,
    const std::function<std::optional<std::string>(const RegexMatch&)>& replace) const {
    const auto found = matches(text);
    if (!found) {
        return std::nullopt;
    }
    if (found->empty()) {
        return std::string(text);
    }
    std::string result;
    result.reserve(text.size());
    std::size_t copied = 0;
    for (const auto& match : *found) {
        result.append(text.substr(copied, match.start() - copied));
        if (auto replacement = replace(match)) {
            result += *replacement;
        } else {
            result.append(match.group());
        }
        copied = match.end();
    }
    result.append(text.substr(copied));
    return result;
}

std::string Regex::replacingAllLiterally(std::string_view text,
                                         std::string_view replacement) const {
    return replacingAll(text, [&](const RegexMatch&) { return std::string(replacement); });
}

std::string Regex::replacingAll(std::string_view text, std::string_view replacementTemplate) const {
    return tryReplacingAll(text, replacementTemplate).value_or(std::string(text));
}

std::optional<std::string> Regex::tryReplacingAll(std::string_view text,
                                                  std::string_view replacementTemplate) const {
    if (!pattern_) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    const auto input = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(input, status));
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    matcher->setTimeLimit(timeLimit(text.size()), status);
    const auto replacement = icu::UnicodeString::fromUTF8(icu::StringPiece(
        replacementTemplate.data(), static_cast<int32_t>(replacementTemplate.size())));
    // Our own find loop: ICU's replaceAll stops quietly at a time-out and returns the text
    // replaced only up to there. ICU expands $n, ${n} and \x in the template itself.
    icu::UnicodeString replaced;
    while (matcher->find(status)) {
        matcher->appendReplacement(replaced, replacement, status);
        if (U_FAILURE(status)) {
            return std::nullopt;
        }
    }
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    matcher->appendTail(replaced);
    std::string out;
    replaced.toUTF8String(out);
    return out;
}

std::string Regex::escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        // A backslash before any ASCII punctuation makes it literal in ICU patterns.
        if (std::string_view("\\^$.|?*+()[]{}-#&~").find(c) != std::string_view::npos) {
            out += '\\';
        }
        out += c;
    }
    return out;
}
