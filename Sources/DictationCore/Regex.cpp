#include "Regex.h"

#include <algorithm>
#include <cstring>
#include <unicode/regex.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

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

// A matcher over a prepared text, reporting byte offsets into the caller's string.
struct Search {
    const RegexText& subject;
    std::unique_ptr<icu::RegexMatcher> matcher;

    Search(const icu::RegexPattern& pattern, const RegexText& text) : subject(text) {
        UErrorCode status = U_ZERO_ERROR;
        matcher.reset(pattern.matcher(text.utf16(), status));
        if (U_FAILURE(status)) {
            matcher.reset();
            return;
        }
        matcher->setTimeLimit(timeLimit(text.text().size()), status);
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

    RegexMatch current() const {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t count = matcher->groupCount();
        std::vector<std::pair<std::int64_t, std::int64_t>> groups;
        groups.reserve(static_cast<std::size_t>(count) + 1);
        const auto toBytes = [&](int32_t index) {
            return index < 0 ? std::int64_t(-1) : subject.byteOffset(index);
        };
        for (int32_t g = 0; g <= count; ++g) {
            groups.emplace_back(toBytes(matcher->start(g, status)),
                                toBytes(matcher->end(g, status)));
        }
        return RegexMatch(subject.text(), std::move(groups));
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

namespace {

bool isASCII(std::string_view text) {
    // Eight bytes at a time: the common case is plain English and this runs on every search.
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, text.data() + i, 8);
        if (chunk & 0x8080808080808080u) {
            return false;
        }
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

RegexText::RegexText(std::string_view text) : text_(text) {
    // ICU searches UTF-16 several times faster than UTF-8 through a UText, most of all in
    // look-behinds, so the text is converted once and positions are mapped back. ASCII maps
    // to itself.
    if (isASCII(text)) {
        utf16_ = icu::UnicodeString(text.data(), static_cast<int32_t>(text.size()), US_INV);
        return;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    byteOffsets_.reserve(text.size() + 1);
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            c = 0xFFFD;
        }
        utf16_.append(c);
        byteOffsets_.insert(byteOffsets_.end(), U16_LENGTH(c), start);
    }
    byteOffsets_.push_back(length);
}

RegexText::~RegexText() = default;

std::int64_t RegexText::byteOffset(std::int32_t utf16Index) const {
    if (byteOffsets_.empty()) {
        return utf16Index;
    }
    return byteOffsets_[static_cast<std::size_t>(utf16Index)];
}

int32_t RegexText::utf16Index(std::size_t byteOffset) const {
    byteOffset = std::min(byteOffset, text_.size());
    if (byteOffsets_.empty()) {
        return static_cast<int32_t>(byteOffset);
    }
    const auto found = std::lower_bound(byteOffsets_.begin(), byteOffsets_.end(),
                                        static_cast<std::int32_t>(byteOffset));
    return static_cast<int32_t>(found - byteOffsets_.begin());
}

std::optional<std::vector<RegexMatch>> Regex::matches(std::string_view text) const {
    if (!pattern_) {
        return std::nullopt;
    }
    return matches(RegexText(text));
}

std::optional<std::vector<RegexMatch>> Regex::matches(const RegexText& subject) const {
    if (!pattern_) {
        return std::nullopt;
    }
    Search search(*pattern_, subject);
    if (!search.matcher) {
        return std::nullopt;
    }
    std::vector<RegexMatch> found;
    bool failed = false;
    while (search.next(failed)) {
        found.push_back(search.current());
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
    const RegexText subject(text);
    Search search(*pattern_, subject);
    bool failed = false;
    if (!search.matcher || !search.next(failed)) {
        return std::nullopt;
    }
    return search.current();
}

std::optional<RegexMatch> Regex::matchAt(const RegexText& text, std::size_t offset,
                                         bool& failed) const {
    failed = false;
    if (!pattern_) {
        failed = true;
        return std::nullopt;
    }
    Search search(*pattern_, text);
    if (!search.matcher) {
        failed = true;
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    // Transparent, non-anchoring bounds: look-behind, \b and ^ see the whole text, as they
    // would in a search that reached this place.
    search.matcher->region(text.utf16Index(offset), text.utf16().length(), status);
    search.matcher->useTransparentBounds(true);
    search.matcher->useAnchoringBounds(false);
    search.matcher->setTimeLimit(timeLimit(text.text().size()), status);
    const bool found = search.matcher->lookingAt(status);
    if (U_FAILURE(status)) {
        failed = true;
        return std::nullopt;
    }
    return found ? std::optional(search.current()) : std::nullopt;
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

namespace {

// One piece of a replacement template: literal text, or the text of a group.
struct TemplatePart {
    std::string literal;
    int32_t group = -1;
};

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// ICU's replacement syntax: $n takes as many digits as still name a group, ${name} a named
// group; a backslash makes the next character literal, \uhhhh and \Uhhhhhhhh give a code
// point. Expanding it ourselves keeps a replace-all linear: ICU's appendReplacement grows
// slower than the text. Nothing for a template that names no group after a $.
std::optional<std::vector<TemplatePart>> parseTemplate(std::string_view text,
                                                       const icu::RegexPattern& pattern) {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::RegexMatcher> probe(pattern.matcher(status));
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    const int32_t groups = probe->groupCount();
    std::vector<TemplatePart> parts(1);
    const auto addGroup = [&](int32_t group) {
        parts.push_back({{}, group});
        parts.emplace_back();
    };
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i++];
        if (c == '\\' && i < text.size()) {
            const char escaped = text[i];
            const std::size_t digits = escaped == 'u' ? 4 : escaped == 'U' ? 8 : 0;
            if (digits > 0 && i + 1 + digits <= text.size() &&
                std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                            text.begin() + static_cast<std::ptrdiff_t>(i + 1 + digits),
                            isHexDigit)) {
                const auto codePoint = static_cast<UChar32>(
                    std::stoul(std::string(text.substr(i + 1, digits)), nullptr, 16));
                icu::UnicodeString(codePoint).toUTF8String(parts.back().literal);
                i += 1 + digits;
            } else {
                parts.back().literal += escaped;
                ++i;
            }
        } else if (c == '$') {
            if (i < text.size() && text[i] == '{') {
                const std::size_t close = text.find('}', i);
                if (close == std::string_view::npos) {
                    return std::nullopt;
                }
                const auto name = icu::UnicodeString::fromUTF8(
                    icu::StringPiece(text.data() + i + 1, static_cast<int32_t>(close - i - 1)));
                const int32_t group = pattern.groupNumberFromName(name, status);
                if (U_FAILURE(status)) {
                    return std::nullopt;
                }
                addGroup(group);
                i = close + 1;
                continue;
            }
            int32_t group = 0;
            std::size_t digits = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9' &&
                   group * 10 + (text[i] - '0') <= groups) {
                group = group * 10 + (text[i] - '0');
                ++i;
                ++digits;
            }
            if (digits == 0) {
                return std::nullopt;
            }
            addGroup(group);
        } else {
            parts.back().literal += c;
        }
    }
    return parts;
}

} // namespace

std::optional<std::string> Regex::tryReplacingAll(std::string_view text,
                                                  std::string_view replacementTemplate) const {
    if (!pattern_) {
        return std::nullopt;
    }
    const auto parts = parseTemplate(replacementTemplate, *pattern_);
    if (!parts) {
        return std::nullopt;
    }
    return tryReplacingAll(text, [&](const RegexMatch& match) {
        std::string replacement;
        for (const auto& part : *parts) {
            replacement += part.group < 0 ? std::string_view(part.literal)
                                          : match.group(static_cast<std::size_t>(part.group));
        }
        return replacement;
    });
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
