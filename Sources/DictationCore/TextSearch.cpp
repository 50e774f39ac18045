#include "TextSearch.h"

#include <algorithm>
#include <optional>
#include <string>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace {

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

// Turkish and Azerbaijani pair I with dotless ı and İ with i.
uint32_t foldOptions(std::string_view locale) {
    const icu::Locale where = locale.empty()
                                  ? icu::Locale::getDefault()
                                  : icu::Locale::createFromName(std::string(locale).c_str());
    const std::string_view language = where.getLanguage();
    return language == "tr" || language == "az" ? U_FOLD_CASE_EXCLUDE_SPECIAL_I
                                                : U_FOLD_CASE_DEFAULT;
}

// Composed, case-folded ("Straße" and "STRASSE" both become "strasse"), composed again since
// folding can take a composed letter apart.
icu::UnicodeString folded(const icu::UnicodeString& text, uint32_t options) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return icu::UnicodeString(text).foldCase(options);
    }
    icu::UnicodeString result = nfc->normalize(text, status);
    result.foldCase(options);
    result = nfc->normalize(result, status);
    return U_SUCCESS(status) ? result : icu::UnicodeString(text).foldCase(options);
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

struct TextSearch::Folded {
    icu::UnicodeString needle;
    uint32_t options = U_FOLD_CASE_DEFAULT;
    // Outside the Turkic mappings, folding ASCII text is lowering A to Z, so most histories
    // are searched without ICU. Set when the folded needle is ASCII.
    std::optional<std::string> ascii;
};

TextSearch::TextSearch(std::string_view needle, std::string_view locale) {
    if (needle.empty()) {
        return;
    }
    folded_ = std::make_unique<Folded>();
    folded_->options = foldOptions(locale);
    folded_->needle = folded(unicode(needle), folded_->options);
    if (folded_->options == U_FOLD_CASE_DEFAULT) {
        std::string utf8;
        folded_->needle.toUTF8String(utf8);
        if (isAscii(utf8)) {
            folded_->ascii = std::move(utf8);
        }
    }
}

TextSearch::TextSearch(TextSearch&&) noexcept = default;
TextSearch& TextSearch::operator=(TextSearch&&) noexcept = default;
TextSearch::~TextSearch() = default;

bool TextSearch::foundIn(std::string_view haystack) const {
    if (!folded_) {
        return true;
    }
    if (haystack.empty()) {
        return false;
    }
    if (folded_->options == U_FOLD_CASE_DEFAULT && isAscii(haystack)) {
        // An ASCII text folds to ASCII: a needle that does not is never in it.
        if (!folded_->ascii) {
            return false;
        }
        const std::string& needle = *folded_->ascii;
        return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                           [](char a, char b) { return lowerAscii(a) == b; }) != haystack.end();
    }
    return folded(unicode(haystack), folded_->options).indexOf(folded_->needle) >= 0;
}
