#include "Insights.h"

#include "Cleanup.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace {

std::int64_t wordsOf(const std::string& text) {
    return Cleanup::wordCount(text);
}

} // namespace

Insights Insights::from(std::span<const Dictation> records, Timestamp now, int dayCount,
                        const Calendar& calendar) {
    Insights insights;
    std::map<std::string, std::int64_t> wordsByDay; // by day key: the same day, however long
    std::map<std::string, std::int64_t> wordsByApp;
    std::int64_t words = 0;
    double spent = 0;
    for (const auto& record : records) {
        if (record.outcome != Outcome::typed) {
            continue;
        }
        const std::int64_t count = wordsOf(record.finalText());
        wordsByDay[calendar.dayKey(record.date)] += count;
        wordsByApp[record.app] += count;
        words += count;
        spent += record.seconds + static_cast<double>(record.totalMs) / 1000;
        if (record.corrected) {
            ++insights.corrected;
        }
    }

    const Timestamp today = calendar.startOfDay(now).value_or(now);
    for (int offset = std::max(dayCount, 0) - 1; offset >= 0; --offset) {
        const Timestamp date = calendar.addingDays(today, -offset).value_or(today);
        const auto found = wordsByDay.find(calendar.dayKey(date));
        insights.days.push_back({date, found == wordsByDay.end() ? 0 : found->second});
    }

    // The map hands names out in ascending order, so a stable sort by words keeps that order
    // among equals.
    for (const auto& [name, count] : wordsByApp) {
        insights.apps.push_back({name, count});
    }
    std::stable_sort(insights.apps.begin(), insights.apps.end(),
                     [](const App& a, const App& b) { return a.words > b.words; });

    insights.streak = calendar.streak(
        today, [&](const std::string& key) { return wordsByDay.contains(key); }, wordsByDay.size());

    const double saved = static_cast<double>(words) / typingWordsPerMinute - spent / 60;
    insights.minutesSaved = std::max<std::int64_t>(0, std::llround(saved));
    return insights;
}

DictationStats DictationStats::from(std::span<const Dictation> records) {
    DictationStats stats;
    std::int64_t heard = 0;
    double seconds = 0;
    std::vector<std::int64_t> waits;
    for (const auto& record : records) {
        if (record.outcome != Outcome::typed) {
            continue;
        }
        stats.words += wordsOf(record.finalText());
        heard += wordsOf(record.heard);
        seconds += record.seconds;
        waits.push_back(record.totalMs);
    }
    if (waits.empty()) {
        return stats;
    }
    if (seconds / 60 > 0) {
        stats.wordsPerMinute = std::llround(static_cast<double>(heard) / (seconds / 60));
    }
    const auto middle = waits.begin() + static_cast<std::ptrdiff_t>(waits.size() / 2);
    std::nth_element(waits.begin(), middle, waits.end());
    stats.medianMs = *middle;
    return stats;
}
