#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unicode/unistr.h>
#include <unicode/uversion.h>
#include <vector>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

// One match: byte ranges into the subject string (UTF-8), group 0 being the whole match.
class RegexMatch {
  public:
    RegexMatch(std::string_view subject, std::vector<std::pair<std::int64_t, std::int64_t>> groups)
        : subject_(subject), groups_(std::move(groups)) {}

    std::size_t groupCount() const { return groups_.size(); }
    // False for a group that took no part in the match (or does not exist).
    bool matched(std::size_t group) const {
        return group < groups_.size() && groups_[group].first >= 0;
    }
    std::size_t start(std::size_t group = 0) const {
        return static_cast<std::size_t>(groups_[group].first);
    }
    std::size_t end(std::size_t group = 0) const {
        return static_cast<std::size_t>(groups_[group].second);
    }
    // Empty for a group that took no part.
    std::string_view group(std::size_t group = 0) const {
        return matched(group) ? subject_.substr(start(group), end(group) - start(group))
                              : std::string_view();
    }

  private:
    std::string_view subject_;
    std::vector<std::pair<std::int64_t, std::int64_t>> groups_;
};

// A text prepared once for searches at many places in it (see Regex::matchAt); it refers to
// the string it was made from, which must outlive it.
class RegexText {
  public:
    explicit RegexText(std::string_view text);
    ~RegexText();
    RegexText(const RegexText&) = delete;
    RegexText& operator=(const RegexText&) = delete;

    std::string_view text() const { return text_; }
    const icu::UnicodeString& utf16() const { return utf16_; }
    std::int64_t byteOffset(std::int32_t utf16Index) const;
    std::int32_t utf16Index(std::size_t byteOffset) const;

  private:
    std::string_view text_;
    icu::UnicodeString utf16_;
    // For every UTF-16 index, and one past the end, the byte offset where its character starts;
    // empty for ASCII, where the two are the same.
    std::vector<std::int32_t> byteOffsets_;
};

// An ICU regular expression (Unicode \w and \b, \p{L}, look-behind, inline flags), compiled once
// and safe to share between threads. A pattern that does not compile, or a search that runs into
// the time limit, makes every operation report "no result", so a pass returns its text unchanged.
class Regex {
  public:
    enum Options : std::uint32_t { none = 0, caseInsensitive = 1 };

    explicit Regex(std::string_view pattern, std::uint32_t options = none);

    bool isValid() const { return pattern_ != nullptr; }

    // Every match from left to right; nothing when the pattern is invalid or time ran out.
    std::optional<std::vector<RegexMatch>> matches(std::string_view text) const;
    std::optional<std::vector<RegexMatch>> matches(const RegexText& text) const;
    // The first match; nothing when there is none or the search failed.
    std::optional<RegexMatch> firstMatch(std::string_view text) const;
    bool isMatch(std::string_view text) const { return firstMatch(text).has_value(); }
    // The match that starts exactly at byte `offset`, as a search through the whole text would
    // find it there: look-behind and \b see the text before the offset. `failed` tells a broken
    // off search from no match.
    std::optional<RegexMatch> matchAt(const RegexText& text, std::size_t offset,
                                      bool& failed) const;

    // Replaces every match with a template in which $1 stands for group 1 (and \$ for a dollar).
    std::string replacingAll(std::string_view text, std::string_view replacementTemplate) const;
    // The same, but nothing when the pattern is invalid or time ran out, so that a pass made of
    // several replacements can give up as a whole.
    std::optional<std::string> tryReplacingAll(std::string_view text,
                                               std::string_view replacementTemplate) const;
    // Replaces every match with `replacement` exactly as given: no $ or \ expansion.
    std::string replacingAllLiterally(std::string_view text, std::string_view replacement) const;
    // Replaces every match with what `replace` returns; nothing keeps the match as it is.
    std::string
    replacingAll(std::string_view text,
                 const std::function<std::optional<std::string>(const RegexMatch&)>& replace) const;
    std::optional<std::string> tryReplacingAll(
        std::string_view text,
        const std::function<std::optional<std::string>(const RegexMatch&)>& replace) const;

    // `text` with every character that means something in a pattern escaped.
    static std::string escaped(std::string_view text);

  private:
    std::shared_ptr<const icu::RegexPattern> pattern_;
};
