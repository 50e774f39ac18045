#include "Calendar.h"

#include <cstdio>
#include <stdexcept>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

namespace {

UDate udate(Timestamp time) {
    return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
}

Timestamp timestamp(UDate date) {
    return Timestamp(std::chrono::duration_cast<Timestamp::duration>(
        std::chrono::duration<double, std::milli>(date)));
}

std::unique_ptr<icu::Calendar> checked(icu::Calendar* calendar, UErrorCode status) {
    std::unique_ptr<icu::Calendar> owned(calendar);
    if (U_FAILURE(status) || !owned) {
        throw std::runtime_error(std::string("calendar unavailable: ") + u_errorName(status));
    }
    return owned;
}

} // namespace

Calendar::Calendar(std::unique_ptr<icu::Calendar> calendar) : calendar_(std::move(calendar)) {}

Calendar Calendar::current() {
    UErrorCode status = U_ZERO_ERROR;
    return Calendar(checked(icu::Calendar::createInstance(status), status));
}

Calendar::Calendar(std::string_view timeZone, std::string_view locale,
                   std::optional<int> firstWeekday) {
    icu::TimeZone* zone = icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
        icu::StringPiece(timeZone.data(), static_cast<int32_t>(timeZone.size()))));
    UErrorCode status = U_ZERO_ERROR;
    calendar_ = checked(icu::Calendar::createInstance(
                            zone, icu::Locale::createFromName(std::string(locale).c_str()), status),
                        status);
    if (firstWeekday && *firstWeekday >= 1 && *firstWeekday <= 7) {
        calendar_->setFirstDayOfWeek(static_cast<UCalendarDaysOfWeek>(*firstWeekday));
    }
}

Calendar::Calendar(const Calendar& other) : calendar_(other.calendar_->clone()) {}

Calendar& Calendar::operator=(const Calendar& other) {
    if (this != &other) {
        calendar_.reset(other.calendar_->clone());
    }
    return *this;
}

Calendar::Calendar(Calendar&&) noexcept = default;
Calendar& Calendar::operator=(Calendar&&) noexcept = default;
Calendar::~Calendar() = default;

std::optional<Timestamp> Calendar::date(int year, int month, int day, int hour, int minute,
                                        int second) const {
    calendar_->clear();
    calendar_->set(year, month - 1, day, hour, minute, second);
    UErrorCode status = U_ZERO_ERROR;
    const UDate moment = calendar_->getTime(status);
    return U_SUCCESS(status) ? std::optional(timestamp(moment)) : std::nullopt;
}

std::string Calendar::dayKey(Timestamp time) const {
    UErrorCode status = U_ZERO_ERROR;
    calendar_->setTime(udate(time), status);
    auto field = [&](UCalendarDateFields name) {
        UErrorCode fieldStatus = status;
        const int32_t value = calendar_->get(name, fieldStatus);
        return U_SUCCESS(fieldStatus) ? value : 0;
    };
    const int year = field(UCAL_YEAR);
    const int month = U_SUCCESS(status) ? field(UCAL_MONTH) + 1 : 0;
    const int day = field(UCAL_DATE);
    char key[32];
    std::snprintf(key, sizeof key, "%04d-%02d-%02d", year, month, day);
    return key;
}

int Calendar::hour(Timestamp time) const {
    UErrorCode status = U_ZERO_ERROR;
    calendar_->setTime(udate(time), status);
    const int32_t value = calendar_->get(UCAL_HOUR_OF_DAY, status);
    return U_SUCCESS(status) ? value : 0;
}

std::optional<Timestamp> Calendar::startOfDay(Timestamp time) const {
    UErrorCode status = U_ZERO_ERROR;
    calendar_->setTime(udate(time), status);
    calendar_->set(UCAL_HOUR_OF_DAY, 0);
    calendar_->set(UCAL_MINUTE, 0);
    calendar_->set(UCAL_SECOND, 0);
    calendar_->set(UCAL_MILLISECOND, 0);
    const UDate start = calendar_->getTime(status);
    return U_SUCCESS(status) ? std::optional(timestamp(start)) : std::nullopt;
}

std::optional<Timestamp> Calendar::addingDays(Timestamp time, int days) const {
    UErrorCode status = U_ZERO_ERROR;
    calendar_->setTime(udate(time), status);
    calendar_->add(UCAL_DATE, days, status);
    const UDate moved = calendar_->getTime(status);
    return U_SUCCESS(status) ? std::optional(timestamp(moved)) : std::nullopt;
}

std::optional<Timestamp> Calendar::startOfWeek(Timestamp time) const {
    const auto today = startOfDay(time);
    if (!today) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    calendar_->setTime(udate(*today), status);
    const int weekday = calendar_->get(UCAL_DAY_OF_WEEK, status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    const int back = (weekday - calendar_->getFirstDayOfWeek(status) + 7) % 7;
    const auto first = addingDays(*today, -back);
    return first ? startOfDay(*first) : std::nullopt;
}

int Calendar::firstWeekday() const {
    UErrorCode status = U_ZERO_ERROR;
    return calendar_->getFirstDayOfWeek(status);
}

int Calendar::streak(Timestamp now, const std::function<bool(const std::string&)>& isActive,
                     std::size_t limit) const {
    int offset = isActive(dayKey(now)) ? 0 : 1;
    int count = 0;
    while (static_cast<std::size_t>(count) < limit) {
        const auto day = addingDays(now, -offset);
        if (!day || !isActive(dayKey(*day))) {
            break;
        }
        ++count;
        ++offset;
    }
    return count;
}
