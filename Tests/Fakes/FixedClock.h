#pragma once

#include "platform/Clock.h"

#include <atomic>

// A clock that stands still until the test moves it, in a calendar of the test's choosing.
class FixedClock final : public Clock {
  public:
    explicit FixedClock(Timestamp now, Calendar calendar = Calendar("Europe/Berlin", "de_DE"))
        : now_(now), calendar_(std::move(calendar)) {}

    Timestamp now() const override { return now_.load(); }
    Calendar calendar() const override { return calendar_; }

    void set(Timestamp now) { now_ = now; }
    void advance(std::chrono::seconds by) { now_ = now_.load() + by; }

  private:
    // Read by worker threads while the test moves it.
    std::atomic<Timestamp> now_;
    Calendar calendar_;
};
