#include "Totals.h"

#include "Cleanup.h"

#include <algorithm>
#include <cmath>

Totals Totals::from(std::span<const Dictation> records, const Calendar& calendar) {
    Totals totals;
    for (const auto& record : records) {
        totals.add(record, calendar);
    }
    return totals;
}

void Totals::add(const Dictation& record, const Calendar& calendar) {
    if (record.outcome != Outcome::typed) {
        return;
    }
    const std::int64_t count = Cleanup::wordCount(record.heard);
    std::string day = calendar.dayKey(record.date);
    words += count;
    seconds += record.seconds;
    months[day.substr(0, 7)].words += count;
    days.insert(std::move(day));
}

Totals Totals::adding(const Dictation& record, const Calendar& calendar) const {
    Totals copy = *this;
    copy.add(record, calendar);
    return copy;
}

Totals Totals::with(std::map<std::string, Month> newMonths) const {
    Totals copy = *this;
    copy.months = std::move(newMonths);
    return copy;
}

std::string Totals::monthKey(Timestamp date, const Calendar& calendar) {
    return calendar.dayKey(date).substr(0, 7);
}

std::optional<Totals::Month> Totals::month(Timestamp date, const Calendar& calendar) const {
    const auto found = months.find(monthKey(date, calendar));
    return found == months.end() ? std::nullopt : std::optional(found->second);
}

std::int64_t Totals::wordsPerMinute() const {
    if (!(seconds > 0)) {
        return 0;
    }
    return std::llround(static_cast<double>(words) / (seconds / 60));
}

bool Totals::isActive(Timestamp date, const Calendar& calendar) const {
    return days.contains(calendar.dayKey(date));
}

int Totals::streak(Timestamp now, const Calendar& calendar) const {
    return calendar.streak(
        now, [&](const std::string& key) { return days.contains(key); }, days.size());
}

std::vector<std::pair<Timestamp, bool>> Totals::week(Timestamp now,
                                                     const Calendar& calendar) const {
    std::vector<std::pair<Timestamp, bool>> result;
    const auto start = calendar.startOfWeek(now);
    if (!start) {
        return result;
    }
    for (int offset = 0; offset < 7; ++offset) {
        if (const auto day = calendar.addingDays(*start, offset)) {
            result.emplace_back(*day, isActive(*day, calendar));
        }
    }
    return result;
}

void to_json(nlohmann::ordered_json& json, const Totals& totals) {
    json = nlohmann::ordered_json::object();
    json["words"] = totals.words;
    json["seconds"] = totals.seconds;
    json["days"] = totals.days;
    auto months = nlohmann::ordered_json::object();
    for (const auto& [key, month] : totals.months) {
        months[key] = {{"words", month.words}};
    }
    json["months"] = std::move(months);
}

namespace {

// nlohmann converts a real number to an integer without a word; totals insist on integers.
std::int64_t integer(const nlohmann::ordered_json& value, const char* what) {
    if (!value.is_number_integer()) {
        throw nlohmann::ordered_json::type_error::create(
            302, std::string(what) + " is not an integer", &value);
    }
    return value.get<std::int64_t>();
}

} // namespace

void from_json(const nlohmann::ordered_json& json, Totals& totals) {
    Totals read;
    read.words = integer(json.at("words"), "words");
    const auto& seconds = json.at("seconds");
    if (!seconds.is_number()) {
        throw nlohmann::ordered_json::type_error::create(302, "seconds is not a number", &seconds);
    }
    read.seconds = seconds.get<double>();
    const auto& days = json.at("days");
    if (!days.is_array()) {
        throw nlohmann::ordered_json::type_error::create(302, "days is not an array", &days);
    }
    for (const auto& day : days) {
        read.days.insert(day.get<std::string>());
    }
    if (const auto months = json.find("months"); months != json.end()) {
        if (!months->is_object()) {
            throw nlohmann::ordered_json::type_error::create(302, "months is not an object",
                                                             &*months);
        }
        for (const auto& [key, month] : months->items()) {
            read.months[key].words = integer(month.at("words"), "month words");
        }
    }
    totals = std::move(read);
}

namespace Ranks {

std::int64_t words(Rank rank) {
    switch (rank) {
    case Rank::hatchling:
        return 0;
    case Rank::fledgling:
        return 500;
    case Rank::songbird:
        return 2'500;
    case Rank::lark:
        return 10'000;
    case Rank::nightingale:
        return 25'000;
    case Rank::lyrebird:
        return 75'000;
    }
    return 0;
}

Rank from(std::int64_t count) {
    Rank reached = Rank::hatchling;
    for (const Rank rank : allCases) {
        if (words(rank) <= count) {
            reached = rank;
        }
    }
    return reached;
}

std::optional<Rank> next(Rank rank) {
    for (const Rank candidate : allCases) {
        if (words(candidate) > words(rank)) {
            return candidate;
        }
    }
    return std::nullopt;
}

double progress(Rank rank, std::int64_t count) {
    const auto following = next(rank);
    if (!following) {
        return 1;
    }
    const double done = static_cast<double>(count - words(rank));
    const double span = static_cast<double>(words(*following) - words(rank));
    return std::clamp(done / span, 0.0, 1.0);
}

} // namespace Ranks
