#pragma once

#include "platform/Clock.h"

#include <atomic>

// A clock that stands still until the test moves it, in a calendar of the test's choosing. Its
// wall-clock time and its uptime move together unless the test steps one of them alone.
class FixedClock final : public Clock {
  public:
    explicit FixedClock(Timestamp now, Calendar calendar = Calendar("Europe/Berlin", "de_DE"))
        : now_(now), calendar_(std::move(calendar)) {}

    Timestamp now() const override { return now_.load(); }
    double uptime() const override { return uptime_.load(); }
    Calendar calendar() const override { return calendar_; }

    // The wall-clock alone, as NTP or the user would step it.
    void set(Timestamp now) { now_ = now; }
    void setUptime(double seconds) { uptime_ = seconds; }
    void advance(std::chrono::duration<double> by) {
        now_ = now_.load() + std::chrono::duration_cast<std::chrono::system_clock::duration>(by);
        uptime_ = uptime_.load() + by.count();
    }

  private:
    // Read by worker threads while the test moves it.
    std::atomic<Timestamp> now_;
    std::atomic<double> uptime_{5000};
    Calendar calendar_;
};
