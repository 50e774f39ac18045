#include "Text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace Text {

namespace {

const uint8_t* bytesOf(std::string_view text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

// Calls visit(start, end, codePoint) for each character; invalid bytes come as negative values.
template <typename Visit> void forEachCharacter(std::string_view text, Visit visit) {
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytesOf(text), i, length, c);
        visit(static_cast<std::size_t>(start), static_cast<std::size_t>(i), c);
    }
}

} // namespace

std::string validUTF8(std::string_view bytes) {
    std::string out;
    icu::UnicodeString::fromUTF8(icu::StringPiece(bytes.data(), static_cast<int32_t>(bytes.size())))
        .toUTF8String(out);
    return out;
}

std::string printable(std::string_view name) {
    const std::string valid = validUTF8(name);
    std::string out;
    out.reserve(valid.size());
    forEachCharacter(valid, [&](std::size_t start, std::size_t end, UChar32 c) {
        const auto type = u_charType(c);
        if (type == U_CONTROL_CHAR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR ||
            u_hasBinaryProperty(c, UCHAR_BIDI_CONTROL)) {
            out += ' ';
        } else {
            out.append(valid, start, end - start);
        }
    });
    return out;
}

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isWhitespace(char32_t c) {
    return u_isUWhiteSpace(static_cast<UChar32>(c));
}

std::string trimmed(std::string_view text) {
    return trimmed(text, U"", true);
}

std::string trimmed(std::string_view text, std::u32string_view characters, bool whitespace) {
    std::size_t first = text.size(), last = 0;
    forEachCharacter(text, [&](std::size_t start, std::size_t end, UChar32 c) {
        const bool trim =
            c >= 0 && ((whitespace && isWhitespace(static_cast<char32_t>(c))) ||
                       characters.find(static_cast<char32_t>(c)) != std::u32string_view::npos);
        if (!trim) {
            first = std::min(first, start);
            last = end;
        }
    });
    return first >= last ? std::string() : std::string(text.substr(first, last - first));
}

std::string trimmedSpaces(std::string_view text) {
    std::size_t first = text.size(), last = 0;
    forEachCharacter(text, [&](std::size_t start, std::size_t end, UChar32 c) {
        if (c < 0 || (c != '\t' && u_charType(c) != U_SPACE_SEPARATOR)) {
            first = std::min(first, start);
            last = end;
        }
    });
    return first >= last ? std::string() : std::string(text.substr(first, last - first));
}

std::size_t trailingWhitespaceStart(std::string_view text, std::size_t end) {
    auto start = static_cast<int32_t>(std::min(end, text.size()));
    while (start > 0) {
        int32_t previous = start;
        UChar32 c;
        U8_PREV(bytesOf(text), 0, previous, c);
        if (c < 0 || !isWhitespace(static_cast<char32_t>(c))) {
            break;
        }
        start = previous;
    }
    return static_cast<std::size_t>(start);
}

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> result;
    std::size_t wordStart = std::string_view::npos;
    forEachCharacter(text, [&](std::size_t start, std::size_t, UChar32 c) {
        const bool space = c >= 0 && isWhitespace(static_cast<char32_t>(c));
        if (space && wordStart != std::string_view::npos) {
            result.emplace_back(text.substr(wordStart, start - wordStart));
            wordStart = std::string_view::npos;
        } else if (!space && wordStart == std::string_view::npos) {
            wordStart = start;
        }
    });
    if (wordStart != std::string_view::npos) {
        result.emplace_back(text.substr(wordStart));
    }
    return result;
}

std::string collapsedSpaces(std::string_view text) {
    std::string joined;
    for (const auto& word : words(text)) {
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += word;
    }
    return joined;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t lineStart = 0;
    forEachCharacter(text, [&](std::size_t start, std::size_t end, UChar32 c) {
        if (c >= 0 && isLineBreak(static_cast<char32_t>(c))) {
            if (start > lineStart) {
                result.push_back(text.substr(lineStart, start - lineStart));
            }
            lineStart = end;
        }
    });
    if (lineStart < text.size()) {
        result.push_back(text.substr(lineStart));
    }
    return result;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    const auto ua =
        icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())));
    const auto ub =
        icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<int32_t>(b.size())));
    return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

std::string lowercased(std::string_view text) {
    std::string lower;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(lower);
    return lower;
}

std::string caseFolded(std::string_view text) {
    std::string folded;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .foldCase(U_FOLD_CASE_DEFAULT)
        .toUTF8String(folded);
    return folded;
}

std::string fixed(double value, int decimals) {
    std::array<char, 64> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    if (error != std::errc{}) {
        return "0";
    }
    return std::string(buffer.data(), end);
}

} // namespace Text
