#pragma once

#include "Calendar.h"
#include "Dictation.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// What the kept history says, computed afresh for each screen. Only typed records count, and
// the words of a record are those of its final text.
struct Insights {
    struct Day {
        Timestamp date; // the start of the day
        std::int64_t words = 0;
        bool operator==(const Day&) const = default;
    };
    struct App {
        std::string name;
        std::int64_t words = 0;
        bool operator==(const App&) const = default;
    };

    static constexpr int typingWordsPerMinute = 40;

    std::vector<Day> days; // `dayCount` days, oldest first, ending today
    std::vector<App> apps; // most words first, then by name
    int streak = 0;
    std::int64_t minutesSaved = 0; // against typing at typingWordsPerMinute; never negative
    int corrected = 0;

    bool operator==(const Insights&) const = default;

    static Insights from(std::span<const Dictation> records, Timestamp now, int dayCount,
                         const Calendar& calendar);
};

// Figures over the whole kept history; typed records only.
struct DictationStats {
    std::int64_t words = 0;
    std::int64_t wordsPerMinute = 0; // of what was heard, over the seconds spoken
    std::int64_t medianMs = 0;       // the upper middle value for an even count

    bool operator==(const DictationStats&) const = default;

    static DictationStats from(std::span<const Dictation> records);
};
