#pragma once

#include "Calendar.h"
#include "Dictation.h"
#include "RawValues.h"

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

// All-time progress that outlives the history: words and audio seconds of every typed
// dictation, the days with one, and the words per month. Never any dictated text.
struct Totals {
    struct Month {
        std::int64_t words = 0;
        bool operator==(const Month&) const = default;
    };

    std::int64_t words = 0;
    double seconds = 0;
    std::set<std::string> days;          // day keys, "2025-03-07"
    std::map<std::string, Month> months; // month keys, "2025-03"

    bool operator==(const Totals&) const = default;

    // The empty totals with each record added in order.
    static Totals from(std::span<const Dictation> records, const Calendar& calendar);

    // A typed record adds the words of what was heard (not of the cleaned or corrected text), its
    // seconds, its day and its month; other outcomes change nothing.
    Totals adding(const Dictation& record, const Calendar& calendar) const;
    Totals with(std::map<std::string, Month> newMonths) const;

    std::optional<Month> month(Timestamp date, const Calendar& calendar) const;
    static std::string monthKey(Timestamp date, const Calendar& calendar);

    // Rounded half away from zero; 0 without any seconds.
    std::int64_t wordsPerMinute() const;
    bool isActive(Timestamp date, const Calendar& calendar) const;
    // Active days in a row up to today, or up to yesterday while today has none yet.
    int streak(Timestamp now, const Calendar& calendar) const;
    // The seven days of the week holding `now`, from the calendar's first weekday, each with
    // whether it was active.
    std::vector<std::pair<Timestamp, bool>> week(Timestamp now, const Calendar& calendar) const;

  private:
    void add(const Dictation& record, const Calendar& calendar);
};

// "words", "seconds" and "days" are required; a missing "months" is an empty one.
void to_json(nlohmann::ordered_json& json, const Totals& totals);
void from_json(const nlohmann::ordered_json& json, Totals& totals);

// The ladder of all-time word counts.
enum class Rank { hatchling, fledgling, songbird, lark, nightingale, lyrebird };

namespace Ranks {
// The raw values are also the names shown.
inline constexpr RawValues<Rank, 6> raw{{{
    {Rank::hatchling, "Hatchling"},
    {Rank::fledgling, "Fledgling"},
    {Rank::songbird, "Songbird"},
    {Rank::lark, "Lark"},
    {Rank::nightingale, "Nightingale"},
    {Rank::lyrebird, "Lyrebird"},
}}};
inline constexpr auto allCases = raw.allCases();
inline constexpr std::string_view rawValue(Rank r) {
    return raw.rawValue(r);
}
inline constexpr std::optional<Rank> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}

// The word count from which a rank applies.
std::int64_t words(Rank rank);
// The highest rank reached with `words`.
Rank from(std::int64_t words);
std::optional<Rank> next(Rank rank);
// How far `words` has come from this rank towards the next, 0 to 1; 1 at the top.
double progress(Rank rank, std::int64_t words);
} // namespace Ranks
