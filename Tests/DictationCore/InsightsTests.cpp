#include "Insights.h"
#include "Records.h"

#include <gtest/gtest.h>

namespace {

const Calendar berlin("Europe/Berlin", "de_DE");

Timestamp day(int month, int date, int hour = 12) {
    return berlin.date(2025, month, date, hour).value();
}

const Timestamp now = day(3, 20, 18);

TEST(Insights, NothingTypedGivesEmptyFigures) {
    for (const auto& records :
         {std::vector<Dictation>{},
          std::vector{unheardRecord(now, Outcome::silent), unheardRecord(now, Outcome::failed)}}) {
        const Insights insights = Insights::from(records, now, 14, berlin);
        ASSERT_EQ(insights.days.size(), 14u);
        for (const auto& entry : insights.days) {
            EXPECT_EQ(entry.words, 0);
        }
        EXPECT_TRUE(insights.apps.empty());
        EXPECT_EQ(insights.streak, 0);
        EXPECT_EQ(insights.minutesSaved, 0);
        EXPECT_EQ(insights.corrected, 0);
        EXPECT_EQ(DictationStats::from(records), DictationStats{});
    }
}

TEST(Insights, DaysCoverTheWindowOldestFirstEndingToday) {
    Dictation corrected = typedRecord(day(3, 20, 9), "one two", "Mail");
    corrected.corrected = "one two three four";
    const std::vector<Dictation> records{
        corrected,
        typedRecord(day(3, 20, 23), "five words are in here", "Mail"),
        typedRecord(day(3, 7, 1), "early in the window", "Chat"), // 13 days ago
        typedRecord(day(2, 28), "twenty days back, outside", "Chat"),
        unheardRecord(day(3, 19)),
    };
    const Insights insights = Insights::from(records, now, 14, berlin);
    ASSERT_EQ(insights.days.size(), 14u);
    EXPECT_EQ(insights.days.front().date, berlin.startOfDay(day(3, 7)));
    EXPECT_EQ(insights.days.front().words, 4);
    EXPECT_EQ(insights.days.back().date, berlin.startOfDay(now));
    EXPECT_EQ(insights.days.back().words, 9) << "the correction's four words and five more";
    std::int64_t inWindow = 0;
    for (const auto& entry : insights.days) {
        inWindow += entry.words;
    }
    EXPECT_EQ(inWindow, 13) << "the record from twenty days ago is not in the window";
    // The old record still counts for the apps.
    EXPECT_EQ(insights.apps, (std::vector<Insights::App>{{"Mail", 9}, {"Chat", 8}}));
    EXPECT_EQ(insights.corrected, 1);
}

std::string words(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "word ";
    }
    return text;
}

TEST(Insights, AppsWithEqualWordsAreOrderedByName) {
    const std::vector<Dictation> records{
        typedRecord(now, words(120), "Zed"),
        typedRecord(now, words(3), "Mail"),
        typedRecord(now, words(120), "Atom"),
    };
    const Insights insights = Insights::from(records, now, 14, berlin);
    EXPECT_EQ(insights.apps,
              (std::vector<Insights::App>{{"Atom", 120}, {"Zed", 120}, {"Mail", 3}}));
}

TEST(Insights, MinutesSavedAgainstTypingNeverGoNegative) {
    // 400 words in 300 s of speech and 20 000 ms of processing: 10 - 5.33, rounded.
    std::vector<Dictation> records;
    for (int i = 0; i < 4; ++i) {
        records.push_back(typedRecord(now, words(100), "Mail", 75, 5'000));
    }
    EXPECT_EQ(Insights::from(records, now, 14, berlin).minutesSaved, 5);

    const std::vector slow{typedRecord(now, "two words", "Mail", 600, 0)};
    EXPECT_EQ(Insights::from(slow, now, 14, berlin).minutesSaved, 0);
}

TEST(Insights, StreakCountsDaysWithAnyTypedRecordEndingTodayOrYesterday) {
    struct Row {
        std::vector<int> daysBack;
        int streak;
    } rows[] = {{{0, 1, 2}, 3}, {{1, 2}, 2}, {{2, 3}, 0}, {{0, 2}, 1}};
    for (const auto& row : rows) {
        std::vector<Dictation> records;
        for (int back : row.daysBack) {
            records.push_back(typedRecord(berlin.addingDays(now, -back).value(), ""));
        }
        EXPECT_EQ(Insights::from(records, now, 14, berlin).streak, row.streak)
            << "a typed record of no words still counts";
    }
}

TEST(DictationStats, WordsSpeedAndTheUpperMedianWait) {
    Dictation corrected = typedRecord(now, "one two three", "Mail", 30, 100);
    corrected.corrected = "one two three four five six";
    const std::vector<Dictation> records{
        corrected,
        typedRecord(now, "a b c d e f g h i", "Mail", 30, 300),
        typedRecord(now, "x", "Mail", 0, 200),
        typedRecord(now, "y y", "Mail", 0, 400),
        unheardRecord(now),
    };
    const DictationStats stats = DictationStats::from(records);
    EXPECT_EQ(stats.words, 6 + 9 + 1 + 2) << "final texts";
    EXPECT_EQ(stats.wordsPerMinute, 15) << "the 15 words heard over one minute of speech";
    EXPECT_EQ(stats.medianMs, 300);

    EXPECT_EQ(DictationStats::from(std::vector{typedRecord(now, "a b", "Mail", 0, 7)}),
              (DictationStats{2, 0, 7}))
        << "no speech time gives no speed";
}

} // namespace
