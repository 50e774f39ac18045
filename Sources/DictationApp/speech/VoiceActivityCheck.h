#pragma once

#include "platform/Paths.h"

#include <chrono>
#include <filesystem>
#include <span>
#include <string>

// The dictation pipeline's pieces that run off the main thread.
namespace VoiceActivityCheck {

// The voice-activity tool the speech check runs.
struct SpeechTool {
    std::string program;
    std::filesystem::path model;
    double timeoutSeconds = 5;

    // The installed or searched "whisper-vad-speech-segments" with the silero model in the
    // models folder.
    static SpeechTool standard(const Paths& paths);
};

// True when the samples hold no speech. Asks the voice-activity tool through a temporary WAV
// file (removed in every case); when the tool cannot answer, logs why and goes by loudness.
bool isSilent(std::span<const float> samples, const SpeechTool& tool);

// Removes the speech check's temporary files (ours, older than `age`) that a process ended in
// the middle of a check left behind: they hold the user's voice.
void removeLeftovers(std::chrono::seconds age = std::chrono::seconds(60));

} // namespace VoiceActivityCheck
