#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Deciding whether a recording holds speech: the voice-activity tool's command line and the
// reading of its output, and the loudness rule used when the tool cannot answer.
namespace SpeechCheck {

// The voice-activity probability above which a stretch counts as speech.
inline constexpr std::string_view threshold = "0.3";
// The shortest stretch of speech that counts, in milliseconds.
inline constexpr std::string_view minSpeechMs = "100";
inline constexpr std::string_view modelFile = "ggml-silero-v5.1.2.bin";
inline constexpr std::string_view toolName = "whisper-vad-speech-segments";
// Below this largest absolute sample a recording counts as silent.
inline constexpr float quietLevel = 0.01f;

// The tool's arguments, program first.
std::vector<std::string> arguments(const std::string& tool, const std::string& wavFile,
                                   const std::string& modelFile);

// The number N of the tool's "Detected N speech segments" line; none when the output has no
// such line (the tool printed its usage, or failed).
std::optional<int> segmentCount(std::string_view output);

// True for "Detected 0 speech segments", false for any other count, none without a result.
std::optional<bool> isSilent(std::string_view output);

// No samples, or the largest absolute sample below quietLevel.
bool isQuiet(std::span<const float> samples);

} // namespace SpeechCheck
