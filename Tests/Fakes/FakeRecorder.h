#pragma once

#include "audio/Recorder.h"
#include "platform/AppError.h"

#include <optional>
#include <vector>

// A microphone on the test's clock: each recording holds one sample per millisecond of the
// clock's uptime between start and stop.
class FakeRecorder final : public Recorder {
  public:
    explicit FakeRecorder(const Clock& clock) : clock_(clock) {}

    bool fails = false;
    int starts = 0;
    mutable std::optional<double> lastSnapshot;

    void start() override {
        if (fails) {
            throw AppError::audio("no source to record from");
        }
        ++starts;
        startedAt_ = clock_.uptime();
    }
    Recording stop() override {
        if (!startedAt_) {
            return {};
        }
        const double seconds = clock_.uptime() - *startedAt_;
        startedAt_.reset();
        samples_.assign(static_cast<std::size_t>(seconds * 1000), 0.25f);
        return {samples_, seconds};
    }
    std::vector<float> snapshot(std::optional<double> last) const override {
        lastSnapshot = last;
        return std::vector<float>(100, 0.5f);
    }
    std::optional<double> startedAt() const override { return startedAt_; }

  private:
    const Clock& clock_;
    std::optional<double> startedAt_;
    std::vector<float> samples_;
};
