#include "JSONFile.h"
#include "Records.h"
#include "TestSupport.h"
#include "Totals.h"

#include <gtest/gtest.h>

namespace {

const Calendar newYork("America/New_York", "en_US");

Timestamp at(const Calendar& calendar, int year, int month, int day, int hour = 12,
             int minute = 0) {
    return calendar.date(year, month, day, hour, minute).value();
}

Timestamp nyc(int month, int day, int hour = 12, int minute = 0) {
    return at(newYork, 2025, month, day, hour, minute);
}

// Totals with a typed dictation on each given day of March 2025.
Totals activeOn(std::initializer_list<int> days, const Calendar& calendar = newYork) {
    std::vector<Dictation> records;
    for (int day : days) {
        records.push_back(typedRecord(at(calendar, 2025, 3, day, 9), "some words"));
    }
    return Totals::from(records, calendar);
}

TEST(Totals, AddingCountsTheWordsHeardOfTypedDictationsOnly) {
    Dictation typed = typedRecord(nyc(3, 7), "two words", "Mail", 4.5);
    typed.text = "Two words, cleaned up and longer.";
    typed.corrected = "Even more words in the correction here";
    const Totals once = Totals{}.adding(typed, newYork);
    EXPECT_EQ(once, (Totals{2, 4.5, {"2025-03-07"}, {{"2025-03", {2}}}}));

    EXPECT_EQ(once.adding(unheardRecord(nyc(3, 8), Outcome::silent), newYork), once);
    EXPECT_EQ(once.adding(unheardRecord(nyc(3, 8), Outcome::failed), newYork), once);

    Dictation empty = typedRecord(nyc(3, 9), "");
    const Totals twice = once.adding(empty, newYork);
    EXPECT_EQ(twice.words, 2);
    EXPECT_EQ(twice.days, (std::set<std::string>{"2025-03-07", "2025-03-09"}))
        << "a typed dictation without words still marks its day";
}

TEST(Totals, DaysAndMonthsFollowTheLocalCalendar) {
    const std::vector<Dictation> records{
        typedRecord(nyc(1, 31, 9), "one two three"),
        typedRecord(nyc(1, 31, 23, 59), "four"),
        typedRecord(nyc(2, 1, 0, 1), "five six"),
    };
    const Totals totals = Totals::from(records, newYork);
    EXPECT_EQ(totals.days, (std::set<std::string>{"2025-01-31", "2025-02-01"}));
    EXPECT_EQ(totals.months,
              (std::map<std::string, Totals::Month>{{"2025-01", {4}}, {"2025-02", {2}}}));
    EXPECT_EQ(totals.month(nyc(1, 15), newYork), Totals::Month{4});
    EXPECT_EQ(totals.month(nyc(3, 1), newYork), std::nullopt);
    // The same moments in Tokyo fall on other days.
    const Totals tokyo = Totals::from(records, Calendar("Asia/Tokyo", "ja_JP"));
    EXPECT_EQ(tokyo.days, (std::set<std::string>{"2025-01-31", "2025-02-01"}));
    EXPECT_EQ(tokyo.months.at("2025-02").words, 3) << "23:59 in New York is February in Tokyo";
    EXPECT_TRUE(totals.isActive(nyc(1, 31, 1), newYork));
    EXPECT_FALSE(totals.isActive(nyc(1, 30, 23), newYork));
}

TEST(Totals, WordsPerMinute) {
    struct Row {
        std::int64_t words;
        double seconds;
        std::int64_t expected;
    } rows[] = {{100, 40, 150}, {0, 0, 0}, {100, 0, 0}, {1, 120, 1}, {1, 121, 0}, {7, 60, 7}};
    for (const auto& row : rows) {
        EXPECT_EQ((Totals{row.words, row.seconds, {}, {}}.wordsPerMinute()), row.expected)
            << row.words << " words in " << row.seconds << " s";
    }
}

TEST(Totals, FileFormatIsCompactWithMonthsOptionalAndTheRestRequired) {
    TempDir dir;
    const JSONFile<Totals> file(dir / "totals.json");
    const Totals totals{12, 7.5, {"2025-03-07", "2025-03-06"}, {{"2025-03", {12}}}};
    file.save(totals);
    EXPECT_EQ(readAll(file.url()),
              R"({"words":12,"seconds":7.5,"days":["2025-03-06","2025-03-07"],)"
              R"("months":{"2025-03":{"words":12}}})");
    EXPECT_EQ(file.load(), totals);

    writeAll(file.url(), R"({"days":["2025-03-06","2025-03-06"],"seconds":3,"words":4})");
    EXPECT_EQ(file.load(), (Totals{4, 3, {"2025-03-06"}, {}}));

    for (const char* broken : {
             R"({"words":4,"seconds":3})",
             R"({"words":"4","seconds":3,"days":[]})",
             R"({"words":4.5,"seconds":3,"days":[]})",
             R"({"words":4,"seconds":"3","days":[]})",
             R"({"words":4,"seconds":3,"days":"2025-03-06"})",
             R"({"words":4,"seconds":3,"days":[7]})",
             R"({"words":4,"seconds":3,"days":[],"months":{"2025-03":{"words":"x"}}})",
             R"({"words":4,"seconds":3,"days":[],"months":[]})",
             R"([])",
         }) {
        writeAll(file.url(), broken);
        EXPECT_THROW(file.load(), FileError) << broken;
    }
}

TEST(Totals, StreakCountsBackFromTodayOrYesterday) {
    const Timestamp now = nyc(3, 10, 15);
    struct Row {
        std::initializer_list<int> days;
        int streak;
    } rows[] = {
        {{10, 9}, 2}, {{9, 8}, 2},           {{10}, 1},     {{8}, 0},
        {{}, 0},      {{10, 9, 8, 6, 5}, 3}, {{11, 10}, 1}, // a day after today does not count
    };
    for (const auto& row : rows) {
        EXPECT_EQ(activeOn(row.days).streak(now, newYork), row.streak);
    }
}

TEST(Totals, StreakCrossesMidnightAndDaylightSavingChanges) {
    // 23:59 and 00:01 are two days.
    const Totals lateAndEarly = Totals::from(
        std::vector{typedRecord(nyc(3, 5, 23, 59), "a"), typedRecord(nyc(3, 6, 0, 1), "b")},
        newYork);
    EXPECT_EQ(lateAndEarly.streak(nyc(3, 6, 0, 2), newYork), 2);
    EXPECT_EQ(lateAndEarly.streak(nyc(3, 7, 23, 59), newYork), 2) << "yesterday still counts";
    EXPECT_EQ(lateAndEarly.streak(nyc(3, 8, 0, 0), newYork), 0);

    // 9 March 2025 has 23 hours in New York: a day back from 00:30 on the 10th is the 9th, not
    // the 8th as 24 hours back would be.
    EXPECT_EQ(activeOn({8, 9, 10}).streak(nyc(3, 10, 0, 30), newYork), 3);
    // 2 November 2025 has 25 hours.
    const Totals autumn =
        Totals::from(std::vector{typedRecord(nyc(11, 1), "a"), typedRecord(nyc(11, 2), "b"),
                                 typedRecord(nyc(11, 3), "c")},
                     newYork);
    EXPECT_EQ(autumn.streak(nyc(11, 3, 23, 30), newYork), 3);
}

TEST(Totals, StreakUsesTheCalendarInForceAfterATimeZoneChange) {
    const Calendar tokyo("Asia/Tokyo", "ja_JP");
    const Calendar losAngeles("America/Los_Angeles", "en_US");
    // Dictated on the 6th and 7th in Tokyo, then flew to Los Angeles.
    const Totals totals = activeOn({6, 7}, tokyo);
    // 20:00 on the 8th in Los Angeles is 13:00 on the 9th in Tokyo.
    const Timestamp now = at(losAngeles, 2025, 3, 8, 20);
    EXPECT_EQ(totals.streak(now, losAngeles), 2) << "yesterday in Los Angeles is the 7th";
    EXPECT_EQ(totals.streak(now, tokyo), 0) << "in Tokyo the 8th was missed";
}

TEST(Totals, WeekStartsOnTheCalendarsFirstWeekday) {
    const Totals totals = activeOn({2, 4, 9});
    const Timestamp wednesday = nyc(3, 5);
    struct Row {
        Calendar calendar;
        const char* firstDay;
        std::vector<bool> active;
    } rows[] = {
        {newYork, "2025-03-02", {true, false, true, false, false, false, false}},
        {Calendar("America/New_York", "de_DE"),
         "2025-03-03",
         {false, true, false, false, false, false, true}},
        {Calendar("America/New_York", "en_US", 7),
         "2025-03-01",
         {false, true, false, true, false, false, false}},
    };
    for (const auto& row : rows) {
        const auto week = totals.week(wednesday, row.calendar);
        ASSERT_EQ(week.size(), 7u);
        EXPECT_EQ(row.calendar.dayKey(week.front().first), row.firstDay);
        std::vector<bool> active;
        for (std::size_t i = 0; i < week.size(); ++i) {
            active.push_back(week[i].second);
            EXPECT_EQ(week[i].first, row.calendar.startOfDay(week[i].first))
                << "days start at midnight";
            if (i > 0) {
                EXPECT_EQ(row.calendar.addingDays(week[i - 1].first, 1), week[i].first);
            }
        }
        EXPECT_EQ(active, row.active) << row.firstDay;
    }
    // The week that holds the spring change has seven days too.
    EXPECT_EQ(totals.week(nyc(3, 9, 12), newYork).size(), 7u);
}

TEST(Rank, ThresholdsAndCrossings) {
    struct Row {
        std::int64_t words;
        Rank rank;
    } rows[] = {
        {-5, Rank::hatchling},        {0, Rank::hatchling},        {499, Rank::hatchling},
        {500, Rank::fledgling},       {2'499, Rank::fledgling},    {2'500, Rank::songbird},
        {9'999, Rank::songbird},      {10'000, Rank::lark},        {24'999, Rank::lark},
        {25'000, Rank::nightingale},  {74'999, Rank::nightingale}, {75'000, Rank::lyrebird},
        {10'000'000, Rank::lyrebird},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Ranks::from(row.words), row.rank) << row.words;
    }
    EXPECT_EQ(Ranks::rawValue(Rank::nightingale), "Nightingale");
    EXPECT_EQ(Ranks::fromRawValue("Lark"), Rank::lark);
    EXPECT_EQ(Ranks::next(Rank::hatchling), Rank::fledgling);
    EXPECT_EQ(Ranks::next(Rank::nightingale), Rank::lyrebird);
    EXPECT_EQ(Ranks::next(Rank::lyrebird), std::nullopt);
}

TEST(Rank, ProgressTowardsTheNextRank) {
    EXPECT_DOUBLE_EQ(Ranks::progress(Rank::fledgling, 1'500), 0.5);
    EXPECT_DOUBLE_EQ(Ranks::progress(Rank::hatchling, 0), 0);
    EXPECT_DOUBLE_EQ(Ranks::progress(Rank::hatchling, -40), 0);
    EXPECT_DOUBLE_EQ(Ranks::progress(Rank::hatchling, 9'000), 1);
    EXPECT_DOUBLE_EQ(Ranks::progress(Rank::lark, 17'500), 0.5);
    EXPECT_DOUBLE_EQ(Ranks::progress(Rank::lyrebird, 0), 1);
    EXPECT_DOUBLE_EQ(Ranks::progress(Rank::lyrebird, 80'000), 1);
}

} // namespace
