#pragma once

#include "Recognition.h"
#include "platform/Paths.h"
#include "speech/SpeechEngine.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

// The speech engine: whisper.cpp's whisper-server, started on demand on a random free loopback
// port under a request path made for that launch, tied to this process by a keep-alive pipe, and
// asked over HTTP for transcripts once the port's listener is known to be the server itself.
// attempt and transcribe may run on several threads at once; only starting, probing and
// restarting the server are serialised.
//
// Each request cuts the encoder to the clip's length and waits as long as this computer needs
// for it (learnt from the requests before). The server runs on the graphics card where ggml
// finds one; when it fails there, it runs on the processor from then on.
class WhisperServer final : public SpeechEngine {
  public:
    // The most threads worth giving the engine: past that the memory bus is the limit.
    static constexpr int maxThreads = 8;

    // What the server needs from outside: its program, its time limits and the port choice.
    struct Setup {
        std::string program;
        std::chrono::milliseconds probeLimit{40'000};
        std::chrono::milliseconds probeInterval{200};
        // A fixed limit for every request; zero: as long as the speed measured here needs.
        std::chrono::milliseconds requestLimit{0};
        std::function<int()> choosePort;
        // The user's word list, read for the prompt of every transcription.
        std::filesystem::path vocabulary;
        // The engine's threads; 0: one per physical core this process may use, at most 8.
        int threads = 0;
        // The server's working folder, private to the user (made 0700 when missing).
        std::filesystem::path workingFolder;
        // Remembers that the graphics card failed for this program and engine; empty: for
        // this object's life only.
        std::filesystem::path gpuMemory;
        // Off only to measure the engine as it was asked before: the full 30 s context for
        // every clip and whisper's own decoding thresholds.
        bool fitsContext = true;
        bool guardsDecoding = true;

        // The installed or searched whisper-server, 40 s to start, requests limited by the
        // measured speed, a random port, the vocabulary of the support folder, a working folder
        // and the graphics card's record in the cache folder.
        static Setup standard(const Paths& paths);
    };

    // Where the server computes, as far as its own report tells.
    struct Device {
        bool isGraphicsCard = false;
        // The graphics card ggml found, and the processor's instruction set it chose
        // ("sapphirerapids"); empty until the server said.
        std::string graphicsCard;
        std::string instructions;
        int threads = 0;
        bool operator==(const Device&) const = default;
    };

    WhisperServer(std::filesystem::path model, std::string language, Setup setup);
    // Ends the server and waits for it.
    ~WhisperServer() override;
    WhisperServer(const WhisperServer&) = delete;
    WhisperServer& operator=(const WhisperServer&) = delete;

    // The whole recording with the vocabulary as prompt, normalised. A failed first try logs,
    // restarts the server and tries once more; the second failure is thrown. A transcript that
    // loops is asked again once with the full context.
    std::string transcribe(std::span<const float> samples) override;
    // One request with WAV bytes and a prompt (empty for none), normalised, or throws:
    // AppError "whisper did not start", "no reply from whisper", or the transport error.
    std::string attempt(const std::string& wav, const std::string& prompt) override;
    std::string preview(const std::string& wav, const std::string& prompt) override;
    void giveWay() override;
    bool keepsUp(double seconds, double limit) const override;
    std::string deviceDescription() const override;
    // Gives way to a dictation like any preview, and then says nothing.
    void warmUp() override;
    std::string prompt() const override;
    // Starts the server unless it runs, and waits until it answers; throws as attempt does.
    void start();
    // Ends the server and forgets it, for good: a server still starting gives up within a
    // probe, and later requests fail at once (on quitting).
    void shutDown();

    // The model the next request uses.
    std::filesystem::path model() const;
    // Switches to `model` between dictations: the server restarts with it at the first
    // request after every request in flight has ended, so a dictation under way ends with the
    // model it began with. Any thread.
    void useModel(std::filesystem::path model);
    const std::string& language() const { return language_; }
    // The current server's port; 0 before the first start.
    int port() const;
    // The current server's secret request path ("/" and 32 hex digits); "" before the first
    // start. For a bare request in benchmarks: never log it or write it down.
    std::string requestPath() const;
    // The wrapper shell's process id; 0 when there is none.
    pid_t processId() const;
    // The server's own process id; 0 when there is none.
    pid_t serverId() const;
    // Where the current (or last) server computes.
    Device device() const;
    // How long a request over `seconds` of audio may take now.
    std::chrono::milliseconds requestLimit(double seconds) const;

    // 49152 + a uniform random integer in [0, 15849).
    static int randomPort();
    // One thread per physical core among the processors this process may run on, 1 to 8.
    static int automaticThreads();
    // The request body: file, response_format, language, (when not empty) prompt, then the
    // other fields in their order.
    static std::string
    multipartBody(std::string_view boundary, std::string_view wav, std::string_view language,
                  std::string_view prompt,
                  const std::vector<std::pair<std::string, std::string>>& fields = {});
    // The variable that hands the server its request path; our build names it in its usage.
    static constexpr std::string_view requestPathVariable = "WHISPER_REQUEST_PATH";
    // The shell script that starts the server and ties its life to the keep-alive pipe.
    static const std::string wrapperScript;
    // "the graphics card: NAME" or "the processor, N threads (VARIANT instructions)".
    static std::string describe(const Device& device);
    // Reads one line of the server's own report into `device`; false when it says nothing
    // about the device.
    static bool readDeviceLine(std::string_view line, Device& device);

  private:
    class Child;
    struct Preview;
    enum class Kind { final, ordinary, preview };

    // All with lock_ held.
    void ensureRunning();
    void endServer();
    // A port from choosePort that nothing holds yet; throws after 20 taken ones.
    int freePort();
    // Starts a server and waits until it answers. False (and the server ended) when another
    // process listens on its port; throws when it does not start.
    bool launchServer();
    bool gpuFailed() const;
    bool onGraphicsCard() const;
    void rememberGpuFailure(const std::string& reason);
    std::vector<std::string> launchArguments() const;
    // Throws unless the program is our build, which takes its request path privately.
    void checkProgram(const std::filesystem::path& folder);

    // One request over `frames` of encoder context (0 = full).
    std::string request(const std::string& wav, const std::string& prompt, int frames, Kind kind);
    // A request that is asked again with the full context when its transcript loops.
    std::string checkedRequest(const std::string& wav, const std::string& prompt, Kind kind);
    int framesFor(double seconds) const;

    std::filesystem::path model_;
    // A model chosen while requests were in flight; taken up once none is.
    std::optional<std::filesystem::path> nextModel_;
    int inFlight_ = 0;
    std::string language_;
    Setup setup_;
    std::atomic<bool> closed_{false};
    mutable std::mutex lock_;
    std::unique_ptr<Child> process_;
    int port_ = 0;
    std::string requestPath_;
    bool usesCpu_ = false; // the graphics card failed: -ng from now on
    bool programChecked_ = false;

    mutable std::mutex speedLock_;
    Recognition::EngineSpeed speed_;

    std::mutex previewsLock_;
    std::vector<Preview*> previews_;

    std::shared_ptr<std::mutex> deviceLock_ = std::make_shared<std::mutex>();
    std::shared_ptr<Device> device_ = std::make_shared<Device>();
};
