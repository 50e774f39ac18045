#pragma once

#include <string>
#include <string_view>

// Whether a transcript has anything in it, and whether it is long enough to clean.
namespace Cleanup {

inline constexpr int minWords = 5;
// What the speech engine returns for audio without speech.
inline constexpr std::string_view blankAudioMarker = "[BLANK_AUDIO]";

// Maximal runs of non-white-space characters.
int wordCount(std::string_view text);

// One line: the engine's lines trimmed of horizontal space, empty ones dropped, joined by " ".
std::string normalizeTranscript(std::string_view text);

// Nothing but white space, or exactly the blank-audio marker.
bool isEmptyTranscript(std::string_view text);

// Enabled, and at least minWords words.
bool shouldClean(std::string_view text, bool enabled);

} // namespace Cleanup
