#include "Graphemes.h"

#include <algorithm>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace {

// Building a break iterator loads its rules; cloning a ready one is much cheaper.
const icu::BreakIterator* prototype() {
    static const std::unique_ptr<icu::BreakIterator> shared = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    return shared.get();
}

UChar32 firstCodePoint(std::string_view character) {
    if (character.empty()) {
        return -1;
    }
    UChar32 c;
    int32_t i = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(character.data()), i,
            static_cast<int32_t>(character.size()), c);
    return c;
}

// Without a break iterator (ICU data missing), every code point counts as a character.
std::size_t nextCodePoint(std::string_view text, std::size_t offset) {
    auto i = static_cast<int32_t>(offset);
    U8_FWD_1(reinterpret_cast<const uint8_t*>(text.data()), i, static_cast<int32_t>(text.size()));
    return static_cast<std::size_t>(i);
}

std::size_t previousCodePoint(std::string_view text, std::size_t offset) {
    auto i = static_cast<int32_t>(offset);
    U8_BACK_1(reinterpret_cast<const uint8_t*>(text.data()), 0, i);
    return static_cast<std::size_t>(i);
}

} // namespace

void Graphemes::TextCloser::operator()(UText* text) const {
    utext_close(text);
}

Graphemes::Graphemes(std::string_view text) : text_(text) {
    UErrorCode status = U_ZERO_ERROR;
    utext_.reset(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    if (U_FAILURE(status) || prototype() == nullptr) {
        return;
    }
    breaks_.reset(prototype()->clone());
    if (breaks_) {
        breaks_->setText(utext_.get(), status);
        if (U_FAILURE(status)) {
            breaks_.reset();
        }
    }
}

Graphemes::~Graphemes() = default;

std::size_t Graphemes::following(std::size_t offset) {
    if (offset >= text_.size()) {
        return text_.size();
    }
    if (!breaks_) {
        return nextCodePoint(text_, offset);
    }
    const int32_t next = breaks_->following(static_cast<int32_t>(offset));
    return next == icu::BreakIterator::DONE ? text_.size() : static_cast<std::size_t>(next);
}

std::size_t Graphemes::preceding(std::size_t offset) {
    if (offset == 0) {
        return 0;
    }
    offset = std::min(offset, text_.size());
    if (!breaks_) {
        return previousCodePoint(text_, offset);
    }
    const int32_t previous = breaks_->preceding(static_cast<int32_t>(offset));
    return previous == icu::BreakIterator::DONE ? 0 : static_cast<std::size_t>(previous);
}

std::string_view Graphemes::characterAt(std::size_t offset) {
    if (offset >= text_.size()) {
        return {};
    }
    return text_.substr(offset, following(offset) - offset);
}

std::string_view Graphemes::characterBefore(std::size_t offset) {
    offset = std::min(offset, text_.size());
    const std::size_t start = preceding(offset);
    return text_.substr(start, offset - start);
}

bool Graphemes::isLetter(std::string_view character) {
    const UChar32 c = firstCodePoint(character);
    return c >= 0 && u_hasBinaryProperty(c, UCHAR_ALPHABETIC);
}

bool Graphemes::isNumber(std::string_view character) {
    const UChar32 c = firstCodePoint(character);
    return c >= 0 && u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool Graphemes::isUppercase(std::string_view character) {
    const UChar32 c = firstCodePoint(character);
    return c >= 0 && u_hasBinaryProperty(c, UCHAR_UPPERCASE);
}

std::string Graphemes::uppercased(std::string_view character) {
    std::string upper;
    icu::UnicodeString::fromUTF8(
        icu::StringPiece(character.data(), static_cast<int32_t>(character.size())))
        .toUpper(icu::Locale::getRoot())
        .toUTF8String(upper);
    return upper;
}
