#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class BreakIterator;
U_NAMESPACE_END
struct UText;

// The user-perceived characters of a UTF-8 text (ICU grapheme clusters), so that a letter with
// combining marks, or an emoji sequence, is one character. Offsets are byte offsets; the text
// must outlive the walker.
class Graphemes {
  public:
    explicit Graphemes(std::string_view text);
    ~Graphemes();
    Graphemes(const Graphemes&) = delete;
    Graphemes& operator=(const Graphemes&) = delete;

    // The end of the character that starts at `offset`; the text's size at the end.
    std::size_t following(std::size_t offset);
    // The start of the character that ends at `offset`; 0 at the start.
    std::size_t preceding(std::size_t offset);
    // The character that starts at `offset`, and the one that ends there.
    std::string_view characterAt(std::size_t offset);
    std::string_view characterBefore(std::size_t offset);

    // Character classes, decided by the character's first code point.
    static bool isLetter(std::string_view character);
    static bool isNumber(std::string_view character);
    static bool isUppercase(std::string_view character);
    // Full upper-case mapping: one character may become several ("ß" gives "SS").
    static std::string uppercased(std::string_view character);

  private:
    struct TextCloser {
        void operator()(UText* text) const;
    };
    std::string_view text_;
    std::unique_ptr<UText, TextCloser> utext_;
    std::unique_ptr<icu::BreakIterator> breaks_;
};
