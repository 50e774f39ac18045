#pragma once

#include <string>
#include <string_view>

// Spoken self-corrections ("Monday, no, Tuesday", "scratch that") applied to a transcript.
namespace SelfCorrection {

// At most this many cues are tried per transcript, applied or not.
inline constexpr int maxCuesTried = 12;

// The transcript with what the speaker took back removed and the correction in its place. A cue
// changes the text only when it is clear which words the correction replaces. Without any change
// the text comes back exactly as given; otherwise with single spaces between words.
std::string resolve(std::string_view text);

} // namespace SelfCorrection
