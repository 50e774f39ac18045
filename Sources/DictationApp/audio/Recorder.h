#pragma once

#include "platform/Clock.h"
#include "platform/MainThread.h"

#include <functional>
#include <optional>
#include <span>
#include <vector>

// The microphone while the record key is held: mono 32-bit float samples at 16 kHz, kept in
// memory, with a live level and a notice when the audio set-up changes underneath.
// An interface, so the controller can be driven by a fake in tests.
class Recorder {
  public:
    static constexpr double sampleRate = 16000.0;

    struct Recording {
        std::vector<float> samples;
        double seconds = 0; // from start to stop, by the clock's uptime
        bool operator==(const Recording&) const = default;
    };

    // Runs work on the main thread; the hooks are always called through it.
    using Deliver = ::Deliver;
    static Deliver mainThread() { return ::mainThread(); }

    virtual ~Recorder() = default;

    // Begins a recording, or throws AppError (case audio) or another error of the audio system.
    virtual void start() = 0;
    // Ends it: everything recorded and the seconds since start (0 without a running recording).
    // The samples stay available until the next start.
    virtual Recording stop() = 0;
    // A copy of the most recent `last` seconds of samples, or all of them.
    virtual std::vector<float> snapshot(std::optional<double> last = std::nullopt) const = 0;
    // The clock's uptime when the running recording started; set exactly while one runs.
    virtual std::optional<double> startedAt() const = 0;

    // Level 0...1 of each block, on the main thread.
    std::function<void(float)> onLevel = [](float) {};
    // The input device or the audio server changed, on the main thread.
    std::function<void()> onInterrupted = [] {};

    // min(12 * RMS, 1); 0 for no samples.
    static float level(std::span<const float> block);
    // The last whole 16000 * `last` samples (all when fewer), or everything.
    static std::vector<float> lastSamples(std::span<const float> samples,
                                          std::optional<double> last);
};
