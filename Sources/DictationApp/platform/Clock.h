#pragma once

#include "Calendar.h"
#include "Dates.h"

// The time and the user's calendar, reached through one seam so stores and timers can be tested
// at any moment without waiting.
class Clock {
  public:
    virtual ~Clock() = default;
    // The wall-clock time, for records and days. It may jump (NTP, the user, a time zone).
    virtual Timestamp now() const = 0;
    // Seconds since a fixed moment, counting through suspend and never jumping: what durations
    // such as a tap or a held key are measured with.
    virtual double uptime() const = 0;
    // The user's current calendar and time zone.
    virtual Calendar calendar() const = 0;
};

class SystemClock final : public Clock {
  public:
    Timestamp now() const override { return std::chrono::system_clock::now(); }
    double uptime() const override;
    Calendar calendar() const override { return Calendar::current(); }
};
