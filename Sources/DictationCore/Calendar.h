#pragma once

#include "Dates.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class Calendar;
U_NAMESPACE_END

// Day arithmetic in a user's calendar: the locale's calendar system and first weekday, in one
// time zone. Copies are independent; one instance is not for use from two threads at once.
class Calendar {
  public:
    // The user's: ICU's default locale (from LC_ALL, LC_TIME or LANG) and time zone (TZ, else
    // /etc/localtime).
    static Calendar current();

    // An Olson time zone ("Europe/Berlin"; unknown names mean GMT), an ICU locale ("de_DE") and,
    // when given, the first weekday (1 = Sunday ... 7 = Saturday) instead of the locale's.
    Calendar(std::string_view timeZone, std::string_view locale,
             std::optional<int> firstWeekday = std::nullopt);
    Calendar(const Calendar& other);
    Calendar& operator=(const Calendar& other);
    Calendar(Calendar&&) noexcept;
    Calendar& operator=(Calendar&&) noexcept;
    ~Calendar();

    // The moment a wall clock in this calendar shows that date and time (month 1 to 12).
    std::optional<Timestamp> date(int year, int month, int day, int hour = 0, int minute = 0,
                                  int second = 0) const;

    // "2025-03-07": year, month and day of `time`; a field the calendar cannot give counts as 0.
    std::string dayKey(Timestamp time) const;
    // The hour of the day, 0 to 23, that a wall clock in this calendar shows at `time`.
    int hour(Timestamp time) const;
    // Midnight of that day, or the first moment of the day when midnight was skipped.
    std::optional<Timestamp> startOfDay(Timestamp time) const;
    // The same wall-clock time `days` calendar days later (earlier when negative), so a day
    // that is 23 or 25 hours long still counts as one.
    std::optional<Timestamp> addingDays(Timestamp time, int days) const;
    // The start of the first day of the week holding `time`.
    std::optional<Timestamp> startOfWeek(Timestamp time) const;
    int firstWeekday() const;

    // Consecutive days whose day key is active, counted back from the day of `now`, or from the
    // day before when the day of `now` is not active (yet). At most `limit` days are looked at.
    int streak(Timestamp now, const std::function<bool(const std::string& dayKey)>& isActive,
               std::size_t limit) const;

  private:
    explicit Calendar(std::unique_ptr<icu::Calendar> calendar);

    // Operations set the time before reading fields, so const members change its state.
    std::unique_ptr<icu::Calendar> calendar_;
};
