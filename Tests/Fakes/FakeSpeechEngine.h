#pragma once

#include "platform/AppError.h"
#include "speech/SpeechEngine.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Answers from the worker threads, so every field is behind the lock.
class FakeSpeechEngine final : public SpeechEngine {
  public:
    std::string transcribe(std::span<const float> samples) override {
        std::lock_guard guard(lock);
        calls.push_back("transcribe");
        transcribed.push_back(samples.size());
        if (fails) {
            throw AppError::process("no reply from whisper");
        }
        return transcript;
    }
    std::string attempt(const std::string&, const std::string& prompt) override {
        std::lock_guard guard(lock);
        calls.push_back("attempt");
        ++attempts;
        prompts.push_back(prompt);
        return liveTranscript;
    }
    std::string preview(const std::string& wav, const std::string& prompt) override {
        {
            std::lock_guard guard(lock);
            calls.push_back("preview");
        }
        return attempt(wav, prompt);
    }
    void giveWay() override {
        std::lock_guard guard(lock);
        calls.push_back("give way");
    }
    bool keepsUp(double seconds, double limit) const override {
        std::lock_guard guard(lock);
        asked.emplace_back(seconds, limit);
        return fastEnough;
    }
    std::string prompt() const override { return "Parlwick, Tuesday."; }

    mutable std::mutex lock;
    std::string transcript = "um so send it Monday, no, Tuesday.";
    std::string liveTranscript = "so send it";
    bool fails = false;
    std::vector<std::size_t> transcribed;
    std::vector<std::string> prompts;
    int attempts = 0;
    // Whether a live preview keeps up with its interval, and what was asked.
    bool fastEnough = true;
    mutable std::vector<std::pair<double, double>> asked;
    // Every call in order: "transcribe", "attempt", "preview", "give way".
    std::vector<std::string> calls;
};
