#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

// Character classes for the word-level passes, by Unicode property.
namespace Characters {

inline bool isLetter(char32_t c) {
    return u_isalpha(static_cast<UChar32>(c));
}

// Any character with a numeric value: digits, "½", "Ⅻ" and the like.
inline bool isNumeric(char32_t c) {
    return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

inline bool isUppercase(char32_t c) {
    return u_isupper(static_cast<UChar32>(c));
}

// Accents and other marks that belong to the character before them.
inline bool extendsPrevious(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_GRAPHEME_EXTEND);
}

// Calls visit(start, end, base) for each user-perceived character of UTF-8 text: a code point
// with the marks that follow it. Invalid bytes come as U+FFFD.
template <typename Visit> void forEachCharacter(std::string_view text, Visit visit) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 base;
        U8_NEXT(bytes, i, length, base);
        if (base < 0) {
            base = 0xFFFD;
        }
        while (i < length) {
            int32_t next = i;
            UChar32 c;
            U8_NEXT(bytes, next, length, c);
            if (c < 0 || !extendsPrevious(static_cast<char32_t>(c))) {
                break;
            }
            i = next;
        }
        visit(static_cast<std::size_t>(start), static_cast<std::size_t>(i),
              static_cast<char32_t>(base));
    }
}

} // namespace Characters
