#pragma once

#include "audio/Recorder.h"

#include <memory>
#include <mutex>
#include <string>

// The recorder on the PulseAudio client API (served by PulseAudio and by PipeWire's pulse
// server alike): a record stream on the default source in 16 kHz mono float32, which the
// server resamples for us, read in blocks of 2048 frames on the client's audio thread.
// Changes of the default source, sources coming and going, and the server going away call
// onInterrupted.
class PulseRecorder final : public Recorder {
  public:
    static constexpr unsigned blockFrames = 2048;

    // `clientName` names us to the audio server; `clock` times the recordings.
    PulseRecorder(std::string clientName, std::shared_ptr<const Clock> clock,
                  Deliver deliver = Recorder::mainThread());
    ~PulseRecorder() override;
    PulseRecorder(const PulseRecorder&) = delete;
    PulseRecorder& operator=(const PulseRecorder&) = delete;

    void start() override;
    Recording stop() override;
    std::vector<float> snapshot(std::optional<double> last = std::nullopt) const override;
    std::optional<double> startedAt() const override;

    // Why nothing can be recorded now (no audio server, no microphone); empty when it can.
    std::string missingMicrophone();
    enum class Microphone { ready, noInput, noServer };
    // The same as a case: whether a server answers and its default source is a real input.
    Microphone microphone();
    // The description of the input `microphone()` found ready, as the sound settings show it;
    // empty when it found none. Same thread as `microphone()`.
    const std::string& microphoneName() const { return microphoneName_; }

  private:
    struct Audio;
    friend struct Audio;

    void append(std::span<const float> block);
    void interrupted();

    std::string clientName_;
    std::string microphoneName_;
    std::shared_ptr<const Clock> clock_;
    Inbox inbox_;
    // What the audio thread reports through.
    const Deliver post_;
    std::unique_ptr<Audio> audio_;

    mutable std::mutex bufferLock_;
    std::vector<float> buffered_;
    std::optional<double> startedAt_;
};
