#pragma once

#include <filesystem>
#include <span>
#include <string>

// What the dictation flow asks of the speech engine. The calls may run on several threads at
// once and block until the transcript is there; failures are thrown.
class SpeechEngine {
  public:
    virtual ~SpeechEngine() = default;

    // The whole recording with the vocabulary as prompt, normalised. It goes first: previews in
    // flight give way to it.
    virtual std::string transcribe(std::span<const float> samples) = 0;
    // One request with WAV bytes and a prompt (empty for none), normalised.
    virtual std::string attempt(const std::string& wav, const std::string& prompt) = 0;
    // A request whose answer is only a preview (live words, the warm-up): it gives way to a
    // transcription, which then need not wait for it, and throws when it did.
    virtual std::string preview(const std::string& wav, const std::string& prompt) {
        return attempt(wav, prompt);
    }
    // Ends the previews in flight at once: the recording they preview is over.
    virtual void giveWay() {}
    // Whether a request over `seconds` of audio is expected back within `limit` seconds on
    // this computer; false while the engine's speed is not known yet.
    virtual bool keepsUp(double seconds, double limit) const {
        (void)seconds;
        (void)limit;
        return true;
    }
    // Where speech is recognised, for the user ("the graphics card: …", "the processor …");
    // empty while the engine has not started.
    virtual std::string deviceDescription() const { return {}; }
    // Starts the engine and measures it with one short request, as a preview.
    virtual void warmUp();

    // The prompt for a request now: the user's vocabulary.
    virtual std::string prompt() const = 0;

    // The prompt made from the user's vocabulary file; empty when it can't be read.
    static std::string vocabularyPrompt(const std::filesystem::path& words);
};
