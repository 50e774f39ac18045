#include "WritingStyle.h"

#include "Text.h"

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
        return Text::lowercased(styled);
    }
    return styled;
}

} // namespace WritingStyles
