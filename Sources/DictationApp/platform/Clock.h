#pragma once

#include "Calendar.h"
#include "Dates.h"

// The time and the user's calendar, reached through one seam so stores and timers can be tested
// at any moment without waiting.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual Timestamp now() const = 0;
    // The user's current calendar and time zone.
    virtual Calendar calendar() const = 0;
};

class SystemClock final : public Clock {
  public:
    Timestamp now() const override { return std::chrono::system_clock::now(); }
    Calendar calendar() const override { return Calendar::current(); }
};
