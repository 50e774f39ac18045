#pragma once

#include "platform/Paths.h"
#include "speech/SpeechEngine.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>

// The speech engine: whisper.cpp's whisper-server, started on demand on a random free loopback
// port under a request path made for that launch, tied to this process by a keep-alive pipe, and
// asked over HTTP for transcripts once the port's listener is known to be the server itself.
// attempt and transcribe may run on several threads at once; only starting, probing and
// restarting the server are serialised.
class WhisperServer final : public SpeechEngine {
  public:
    static constexpr std::string_view modelFile = "ggml-large-v3-turbo-q5_0.bin";

    // What the server needs from outside: its program, its time limits and the port choice.
    struct Setup {
        std::string program;
        std::chrono::milliseconds probeLimit{40'000};
        std::chrono::milliseconds probeInterval{200};
        std::chrono::milliseconds requestLimit{30'000};
        std::function<int()> choosePort;
        // The user's word list, read for the prompt of every transcription.
        std::filesystem::path vocabulary;

        // The installed or searched whisper-server, 40 s to start, 30 s per request, a random
        // port, the vocabulary of the support folder.
        static Setup standard(const Paths& paths);
    };

    WhisperServer(std::filesystem::path model, std::string language, Setup setup);
    // Closes the keep-alive pipe, which ends the server.
    ~WhisperServer() override;
    WhisperServer(const WhisperServer&) = delete;
    WhisperServer& operator=(const WhisperServer&) = delete;

    // The whole recording with the vocabulary as prompt, normalised. A failed first try logs,
    // restarts the server and tries once more; the second failure is thrown.
    std::string transcribe(std::span<const float> samples) override;
    // One request with WAV bytes and a prompt (empty for none), normalised, or throws:
    // AppError "whisper did not start", "no reply from whisper", or the transport error.
    std::string attempt(const std::string& wav, const std::string& prompt) override;
    std::string prompt() const override;
    // Closes the keep-alive pipe and forgets the process, for good: a server still starting
    // gives up within a probe, and later requests fail at once (on quitting).
    void shutDown();

    const std::filesystem::path& model() const { return model_; }
    const std::string& language() const { return language_; }
    // The current server's port; 0 before the first start.
    int port() const;
    // The current server's secret request path ("/" and 32 hex digits); "" before the first
    // start. For a bare request in benchmarks: never log it or write it down.
    std::string requestPath() const;
    // The wrapper shell's process id; 0 when there is none.
    pid_t processId() const;

    // 49152 + a uniform random integer in [0, 15849).
    static int randomPort();
    // The request body: file, response_format, language and (when not empty) prompt parts.
    static std::string multipartBody(std::string_view boundary, std::string_view wav,
                                     std::string_view language, std::string_view prompt);
    // The shell script that starts the server and ties its life to the keep-alive pipe.
    static const std::string wrapperScript;

  private:
    class Child;
    // All with lock_ held.
    void ensureRunning();
    void endServer();
    // A port from choosePort that nothing holds yet; throws after 20 taken ones.
    int freePort();
    // Starts a server and waits until it answers. False (and the server ended) when another
    // process listens on its port; throws when it does not start.
    bool launchServer();

    std::filesystem::path model_;
    std::string language_;
    Setup setup_;
    std::atomic<bool> closed_{false};
    mutable std::mutex lock_;
    std::unique_ptr<Child> process_;
    int port_ = 0;
    std::string requestPath_;
};
