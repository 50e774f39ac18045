#pragma once

#include "platform/AppError.h"
#include "speech/SpeechEngine.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Answers single attempts from a table keyed by (recording, prompt), the recording told by its
// WAV bytes; a recording without an entry for the prompt gets its usual answer. Can fail a
// given call, or hold it until the test lets it go. Called from worker threads.
class ScriptedSpeechEngine final : public SpeechEngine {
  public:
    std::string transcribe(std::span<const float>) override {
        throw AppError::process("no reply from whisper");
    }

    std::string attempt(const std::string& wav, const std::string& prompt) override {
        std::unique_lock lock(lock_);
        const int number = ++calls_;
        const int recording = recordings.contains(wav) ? recordings.at(wav) : 0;
        asked_.emplace_back(recording, prompt);
        reached_.notify_all();
        if (number == holdAt) {
            reached_.wait(lock, [this] { return released_; });
        }
        if (number == failAt) {
            throw AppError::process("no reply from whisper");
        }
        if (const auto answer = answers.find({recording, prompt}); answer != answers.end()) {
            return answer->second;
        }
        return usual.contains(recording) ? usual.at(recording) : "";
    }

    std::string prompt() const override { return ""; }

    // Waits until call `number` has begun; false after `seconds`.
    bool waitForCall(int number, double seconds = 10) {
        std::unique_lock lock(lock_);
        return reached_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&] { return calls_ >= number; });
    }
    void release() {
        std::lock_guard guard(lock_);
        released_ = true;
        reached_.notify_all();
    }
    int calls() {
        std::lock_guard guard(lock_);
        return calls_;
    }
    std::vector<std::pair<int, std::string>> asked() {
        std::lock_guard guard(lock_);
        return asked_;
    }

    // Set up before the engine is used.
    std::map<std::string, int> recordings;                      // WAV bytes -> recording number
    std::map<int, std::string> usual;                           // recording -> its answer
    std::map<std::pair<int, std::string>, std::string> answers; // (recording, prompt) -> answer
    int failAt = 0;
    int holdAt = 0;

  private:
    std::mutex lock_;
    std::condition_variable reached_;
    int calls_ = 0;
    bool released_ = false;
    std::vector<std::pair<int, std::string>> asked_;
};
