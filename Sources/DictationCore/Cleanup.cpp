#include "Cleanup.h"

#include "Text.h"

namespace Cleanup {

int wordCount(std::string_view text) {
    return static_cast<int>(Text::words(text).size());
}

std::string normalizeTranscript(std::string_view text) {
    std::string joined;
    for (auto line : Text::lines(text)) {
        // Only line breaks split lines, so trimming white space here trims horizontal space.
        const std::string trimmed = Text::trimmed(line);
        if (trimmed.empty()) {
            continue;
        }
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += trimmed;
    }
    return joined;
}

bool isEmptyTranscript(std::string_view text) {
    const std::string trimmed = Text::trimmed(text);
    return trimmed.empty() || trimmed == blankAudioMarker;
}

bool shouldClean(std::string_view text, bool enabled) {
    return enabled && wordCount(text) > minWords - 1;
}

} // namespace Cleanup
