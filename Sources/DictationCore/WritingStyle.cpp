#include "WritingStyle.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace WritingStyles {

std::string apply(WritingStyle style, std::string_view text) {
    std::string styled(text);
    if (style == WritingStyle::polished) {
        return styled;
    }
    if (styled.ends_with('.') && !styled.ends_with("..")) {
        styled.pop_back();
    }
    if (style == WritingStyle::lowercase) {
        std::string lower;
        icu::UnicodeString::fromUTF8(styled).toLower(icu::Locale::getRoot()).toUTF8String(lower);
        return lower;
    }
    return styled;
}

} // namespace WritingStyles
