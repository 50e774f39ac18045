#include "Calendar.h"
#include "Numbers.h"

#include <gtest/gtest.h>

TEST(Numbers, GroupingAndCompactNotationFollowTheLocale) {
    EXPECT_EQ(Numbers::grouped(80000, "en_US"), "80,000");
    EXPECT_EQ(Numbers::grouped(80000, "de_DE"), "80.000");
    EXPECT_EQ(Numbers::grouped(500, "en_US"), "500");
    EXPECT_EQ(Numbers::grouped(-1234567, "en_US"), "-1,234,567");
    const std::pair<std::int64_t, const char*> ladder[] = {
        {500, "500"}, {2500, "2.5K"}, {10000, "10K"}, {25000, "25K"}, {75000, "75K"}};
    for (const auto& [number, text] : ladder) {
        EXPECT_EQ(Numbers::compact(number, "en_US"), text) << number;
    }
    EXPECT_EQ(Numbers::compact(25000, "de_DE").substr(0, 2), "25");
}

TEST(CalendarHour, IsTheWallClockHourInTheCalendarsZone) {
    const Calendar berlin("Europe/Berlin", "de_DE");
    const Calendar tokyo("Asia/Tokyo", "ja_JP");
    const auto morning = berlin.date(2026, 3, 29, 4, 59);
    ASSERT_TRUE(morning);
    EXPECT_EQ(berlin.hour(*morning), 4);
    EXPECT_EQ(tokyo.hour(*morning), 11);
    // Across the spring change: 01:30 plus an hour reads 03:30.
    const auto early = berlin.date(2026, 3, 29, 1, 30);
    ASSERT_TRUE(early);
    EXPECT_EQ(berlin.hour(*early + std::chrono::hours(1)), 3);
}
