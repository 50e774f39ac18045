#include "desktop/TypedKeysyms.h"

#include <unicode/unistr.h>
#include <xkbcommon/xkbcommon.h>

namespace TypedKeysyms {

std::uint32_t forCharacter(char32_t c) {
    if (c == U'\n') {
        return XKB_KEY_Return;
    }
    if (c == U'\t') {
        return XKB_KEY_Tab;
    }
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
        return XKB_KEY_NoSymbol;
    }
    return xkb_utf32_to_keysym(static_cast<std::uint32_t>(c));
}

std::vector<std::uint32_t> forText(const std::string& utf8) {
    std::vector<std::uint32_t> syms;
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(utf8);
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) {
        if (const std::uint32_t sym = forCharacter(static_cast<char32_t>(unicode.char32At(i)))) {
            syms.push_back(sym);
        }
    }
    return syms;
}

} // namespace TypedKeysyms
