#include "Dictation.h"
#include "HistoryFile.h"
#include "Records.h"
#include "Retention.h"

#include <gtest/gtest.h>

namespace {

Dictation sample() {
    Dictation record;
    record.id = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
    record.date = referenceDate(763000000.25);
    record.seconds = 4.5;
    record.app = "Mail";
    record.outcome = Outcome::typed;
    record.text = "Hello there.";
    record.heard = "hello there";
    record.totalMs = 812;
    return record;
}

TEST(Dictation, EncodesKeysInFieldOrderAndLeavesAbsentOptionalsOut) {
    Dictation record = sample();
    EXPECT_EQ(HistoryFile::line(record),
              R"({"id":"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9","date":763000000.25,"seconds":4.5,)"
              R"("app":"Mail","outcome":"typed","text":"Hello there.","heard":"hello there",)"
              R"("totalMs":812})"
              "\n");

    record.corrected = "Hello, there.";
    record.problem = "No words found";
    record.outcome = Outcome::silent;
    EXPECT_EQ(HistoryFile::line(record),
              R"({"id":"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9","date":763000000.25,"seconds":4.5,)"
              R"("app":"Mail","outcome":"silent","text":"Hello there.","heard":"hello there",)"
              R"("corrected":"Hello, there.","problem":"No words found","totalMs":812})"
              "\n");
}

TEST(Dictation, DatesReadFromAFileAreWrittenBackAsTheSameNumber) {
    for (const double seconds : {763000000.25, 789012345.123456789, 0.1, -12.5, 1e-7, 3.0e9}) {
        const Timestamp date = Dates::fromReferenceSeconds(seconds);
        EXPECT_EQ(Dates::toReferenceSeconds(date), seconds) << seconds;
    }
}

TEST(Dictation, LinesNeverBreakInsideARecord) {
    Dictation record = sample();
    record.text = "first line\nsecond line\r\n\ttabbed \u2028 separator";
    const std::string line = HistoryFile::line(record);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(HistoryFile::decode(line), record);
}

TEST(Dictation, MatchesIgnoresCaseAndSurroundingSpacesButNotLineBreaksOrAccents) {
    Dictation record = sample();
    record.app = "Firefox";
    record.text = "Meet me at the Straße café tomorrow";
    struct Row {
        const char* query;
        bool matches;
    } rows[] = {
        {"", true},
        {"  ", true},
        {"\t", true},
        {"MEET ME", true},
        {"  straße  ", true},
        {"STRASSE", true}, // ß is ss, in upper case too
        {"CAFÉ", true},
        {"CAFE\u0301", true}, // the same letter, decomposed
        {"cafe", false},      // accents still count
        {"FIREFOX", true},    // the app name when the text does not have it
        {"fire", true},
        {"\nmeet", false}, // line breaks are part of the query
        {"tomorrow night", false},
        {"chrome", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(record.matches(row.query), row.matches) << '"' << row.query << '"';
    }
}

TEST(Dictation, MatchesSearchesTheCorrectionNotTheOriginal) {
    Dictation record = sample();
    record.corrected = "Goodbye now";
    EXPECT_TRUE(record.matches("goodbye"));
    EXPECT_FALSE(record.matches("hello"));
}

TEST(Dictation, MatchingFollowsTheLocale) {
    Dictation record = sample();
    record.app = "Notes";
    record.text = "ısparta trip to İzmir"; // dotless ı and dotted İ, as Turkish writes them
    EXPECT_TRUE(Dictation::Matcher("ISPARTA", "tr_TR")(record));
    EXPECT_FALSE(Dictation::Matcher("ISPARTA", "en_US")(record));
    EXPECT_TRUE(Dictation::Matcher("izmir", "tr_TR")(record));
    EXPECT_TRUE(Dictation::Matcher("TRIP", "en_US_POSIX")(record));
    EXPECT_TRUE(Dictation::Matcher("notes", "de_DE")(record));
}

TEST(Dictation, CorrectingKeepsEverythingButTheCorrection) {
    const Dictation record = sample();
    struct Row {
        const char* text;
        std::optional<std::string> corrected;
    } rows[] = {
        {"Hello there, friend.", "Hello there, friend."},
        {"  \n Hello there, friend. \t\n", "Hello there, friend."},
        {"  Hello there.  ", std::nullopt}, // the text itself: no correction
        {"", std::nullopt},
        {" \n\t ", std::nullopt},
        {"HELLO THERE.", "HELLO THERE."}, // another capitalisation is a correction
    };
    for (const auto& row : rows) {
        Dictation corrected = record;
        corrected.corrected = "an earlier correction";
        corrected = corrected.correcting(row.text);
        EXPECT_EQ(corrected.corrected, row.corrected) << '"' << row.text << '"';
        corrected.corrected = std::nullopt;
        EXPECT_EQ(corrected, record) << "nothing else changes";
    }
}

TEST(Retention, RawValuesLabelsAndOrder) {
    const std::array<Retention, 4> order{Retention::off, Retention::day, Retention::month,
                                         Retention::forever};
    EXPECT_EQ(Retentions::allCases, order);
    EXPECT_EQ(Retentions::label(Retention::off), "Don't save");
    EXPECT_EQ(Retentions::label(Retention::day), "24 hours");
    EXPECT_EQ(Retentions::label(Retention::month), "30 days");
    EXPECT_EQ(Retentions::label(Retention::forever), "Until I delete it");
    EXPECT_EQ(Retentions::fromRawValue("forever"), Retention::forever);
    EXPECT_EQ(Retentions::fromRawValue("week"), std::nullopt);
}

TEST(Retention, KeepsRecordsYoungerThanTheLimitInTheirOrder) {
    const Timestamp now = referenceDate(800000000);
    auto aged = [&](double seconds) {
        return typedRecord(now - std::chrono::duration_cast<Timestamp::duration>(
                                     std::chrono::duration<double>(seconds)),
                           "words");
    };
    const std::vector<Dictation> records{aged(86'400),      aged(86'399), aged(2'592'000),
                                         aged(2'591'999.5), aged(0),      aged(-5)};
    auto ages = [&](Retention retention) {
        std::vector<double> kept;
        for (const auto& record : Retentions::keep(retention, records, now)) {
            kept.push_back(std::chrono::duration<double>(now - record.date).count());
        }
        return kept;
    };
    EXPECT_EQ(ages(Retention::off), (std::vector<double>{-5}));
    EXPECT_EQ(ages(Retention::day), (std::vector<double>{86'399, 0, -5}));
    EXPECT_EQ(ages(Retention::month), (std::vector<double>{86'400, 86'399, 2'591'999.5, 0, -5}));
    EXPECT_EQ(Retentions::keep(Retention::forever, records, now), records);
}

} // namespace
