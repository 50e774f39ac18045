#include "TestSupport.h"
#include "TimingLog.h"

#include <clocale>
#include <gtest/gtest.h>

namespace {

// 2025-03-07T14:03:12Z, with a fraction that must not show.
const Timestamp march7 =
    std::chrono::system_clock::from_time_t(1741356192) + std::chrono::milliseconds(870);

TimingRecord record(std::string app, double audio = 1.234) {
    return {march7, audio, 42, 900, 0, 1300, std::move(app)};
}

TEST(TimingRecord, RowsFollowTheHeaderColumnByColumn) {
    EXPECT_EQ(TimingRecord::csvHeader(), "timestamp,audio_s,words,asr_ms,llm_ms,total_ms,app");
    EXPECT_EQ(record("Mail").csvRow(), "2025-03-07T14:03:12Z,1.23,42,900,0,1300,\"Mail\"");
}

TEST(TimingRecord, OnlyTheAppFieldIsQuotedWithInnerQuotesDoubled) {
    EXPECT_EQ(record("The \"Best\" App").csvRow(),
              "2025-03-07T14:03:12Z,1.23,42,900,0,1300,\"The \"\"Best\"\" App\"");
    EXPECT_EQ(record("Mail, Calendar").csvRow(),
              "2025-03-07T14:03:12Z,1.23,42,900,0,1300,\"Mail, Calendar\"");
}

TEST(TimingRecord, SecondsHaveTwoDecimals) {
    EXPECT_EQ(record("x", 1.234).csvRow().substr(21, 5), "1.23,");
    EXPECT_EQ(record("x", 0).csvRow().substr(21, 5), "0.00,");
    EXPECT_EQ(record("x", 12.345678).csvRow().substr(21, 6), "12.35,");
}

TEST(TimingRecord, SecondsUseAPointInACommaLocale) {
    // The app runs under the user's locale; printf would write 1,23 there.
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not generated on this machine";
    }
    const std::string row = record("x", 1.234).csvRow();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(row.substr(21, 5), "1.23,");
}

TEST(TimingLog, FirstAppendWritesTheHeaderThenOnlyRows) {
    TempDir dir;
    TimingLog timing{dir / "runs.csv"};
    timing.append(record("Mail"));
    timing.append(record("Slack"));
    EXPECT_EQ(readAll(dir / "runs.csv"), "timestamp,audio_s,words,asr_ms,llm_ms,total_ms,app\n"
                                         "2025-03-07T14:03:12Z,1.23,42,900,0,1300,\"Mail\"\n"
                                         "2025-03-07T14:03:12Z,1.23,42,900,0,1300,\"Slack\"\n");
    EXPECT_EQ(modeOf(dir / "runs.csv"), 0600u);
}

TEST(TimingLog, AnUnwritablePlaceThrows) {
    TempDir dir;
    EXPECT_THROW(TimingLog{dir / "missing-folder/runs.csv"}.append(record("Mail")), FileError);
}

} // namespace
