#pragma once

#include <filesystem>
#include <span>
#include <string>

// What the dictation flow asks of the speech engine. Both calls may run on several threads at
// once and block until the transcript is there; failures are thrown.
class SpeechEngine {
  public:
    virtual ~SpeechEngine() = default;

    // The whole recording with the vocabulary as prompt, normalised.
    virtual std::string transcribe(std::span<const float> samples) = 0;
    // One request with WAV bytes and a prompt (empty for none), normalised.
    virtual std::string attempt(const std::string& wav, const std::string& prompt) = 0;

    // The prompt for a request now: the user's vocabulary.
    virtual std::string prompt() const = 0;

    // The prompt made from the user's vocabulary file; empty when it can't be read.
    static std::string vocabularyPrompt(const std::filesystem::path& words);
};
