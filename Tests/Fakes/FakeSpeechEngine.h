#pragma once

#include "platform/AppError.h"
#include "speech/SpeechEngine.h"

#include <mutex>
#include <string>
#include <vector>

// Answers from the worker threads, so every field is behind the lock.
class FakeSpeechEngine final : public SpeechEngine {
  public:
    std::string transcribe(std::span<const float> samples) override {
        std::lock_guard guard(lock);
        transcribed.push_back(samples.size());
        if (fails) {
            throw AppError::process("no reply from whisper");
        }
        return transcript;
    }
    std::string attempt(const std::string&, const std::string& prompt) override {
        std::lock_guard guard(lock);
        ++attempts;
        prompts.push_back(prompt);
        return liveTranscript;
    }
    std::string prompt() const override { return "Parlwick, Tuesday."; }

    std::mutex lock;
    std::string transcript = "um so send it Monday, no, Tuesday.";
    std::string liveTranscript = "so send it";
    bool fails = false;
    std::vector<std::size_t> transcribed;
    std::vector<std::string> prompts;
    int attempts = 0;
};
