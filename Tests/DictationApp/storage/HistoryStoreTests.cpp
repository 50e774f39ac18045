#include "FixedClock.h"
#include "LogCapture.h"
#include "ProcessRunner.h"
#include "Records.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "storage/HistoryStore.h"
#include "storage/Stores.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

const Calendar berlin("Europe/Berlin", "de_DE");
const Timestamp monday = berlin.date(2025, 3, 10, 12).value();

std::string words(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "word ";
    }
    return text;
}

class HistoryStoreTest : public testing::Test {
  protected:
    std::filesystem::path support() const { return data / "support"; }
    HistoryStore::Locations files() const {
        return {support() / "history.jsonl", support() / "totals.json", support() / "recordings",
                support() / "runs.csv"};
    }
    std::unique_ptr<HistoryStore> open(std::chrono::milliseconds purgeEvery = 1h) {
        auto store = std::make_unique<HistoryStore>(clock, files(), settings, purgeEvery);
        QObject::connect(store.get(), &HistoryStore::entriesChanged, [this] { ++entriesSignals; });
        QObject::connect(store.get(), &HistoryStore::newRankChanged, [this] { ++rankSignals; });
        return store;
    }
    HistoryFile historyFile() const { return HistoryFile(files().history); }
    JSONFile<Totals> totalsFile() const { return JSONFile<Totals>(files().totals); }
    Dictation agedRecord(std::chrono::seconds age, std::string heard = "a few words") {
        return typedRecord(clock.now() - age, std::move(heard));
    }
    static std::vector<std::string> textsOf(const HistoryEntries& entries) {
        std::vector<std::string> texts;
        for (const auto& entry : entries) {
            texts.push_back(entry.finalText());
        }
        return texts;
    }

    TempDir config, data;
    SettingsFile settings{config / "settings.ini"};
    FixedClock clock{monday, berlin};
    int entriesSignals = 0, rankSignals = 0;
};

TEST_F(HistoryStoreTest, AddAppendsALinePublishesItFirstAndCountsIt) {
    auto store = open();
    EXPECT_TRUE(store->entries().empty());
    EXPECT_EQ(store->problem(), std::nullopt);

    const Dictation first = typedRecord(monday - 60s, "one two three", "Mail", 6);
    const Dictation second = typedRecord(monday, "four five", "Chat", 4);
    store->add(first);
    store->add(second);

    ASSERT_EQ(store->entries().size(), 2u);
    EXPECT_EQ(store->entries()[0], second) << "newest first";
    EXPECT_EQ(store->entries()[1], first);
    EXPECT_EQ(store->entries().toVector(), (std::vector{second, first}));
    EXPECT_EQ(readAll(files().history), HistoryFile::line(first) + HistoryFile::line(second));
    EXPECT_EQ(modeOf(files().history), 0600u);

    const Totals expected{5, 10, {"2025-03-10"}, {{"2025-03", {5}}}};
    EXPECT_EQ(store->totals(), expected);
    EXPECT_EQ(totalsFile().load(), expected);
    EXPECT_EQ(entriesSignals, 2);
    EXPECT_EQ(store->problem(), std::nullopt);
}

TEST_F(HistoryStoreTest, EntriesAreNewestFirstAfterLoading) {
    const std::vector<Dictation> oldestFirst{agedRecord(300s, "one"), agedRecord(200s, "two"),
                                             agedRecord(100s, "three")};
    historyFile().save(oldestFirst);
    auto store = open();
    EXPECT_EQ(textsOf(store->entries()), (std::vector<std::string>{"three", "two", "one"}));
    EXPECT_EQ(std::vector<Dictation>(store->entries().oldestFirst().begin(),
                                     store->entries().oldestFirst().end()),
              oldestFirst);
}

TEST_F(HistoryStoreTest, SilentAndFailedDictationsAreKeptButNotCounted) {
    settings.set(SettingKeys::keepAudio, true);
    auto store = open();
    store->add(typedRecord(monday, "three words here"), "RIFF....WAVE");
    const Totals before = store->totals();
    const Dictation silent = unheardRecord(monday, Outcome::silent);
    const Dictation failed = unheardRecord(monday, Outcome::failed);
    store->add(silent, "RIFF....WAVE");
    store->add(failed, "RIFF....WAVE");
    EXPECT_EQ(store->entries().size(), 3u);
    EXPECT_EQ(historyFile().load().size(), 3u);
    EXPECT_EQ(store->totals(), before);
    EXPECT_FALSE(std::filesystem::exists(store->recordingFile(silent)));
    EXPECT_FALSE(std::filesystem::exists(store->recordingFile(failed)));
}

TEST_F(HistoryStoreTest, KeptRecordingsGoIntoAPrivateFolderOnlyWhenAsked) {
    auto store = open();
    const Dictation notKept = typedRecord(monday, "hello");
    store->add(notKept, "RIFF-first");
    EXPECT_FALSE(std::filesystem::exists(files().recordings));

    settings.set(SettingKeys::keepAudio, true);
    const Dictation kept = typedRecord(monday, "hello again");
    store->add(kept, "RIFF-second");
    EXPECT_EQ(store->recordingFile(kept), files().recordings / (kept.id + ".wav"));
    EXPECT_EQ(readAll(store->recordingFile(kept)), "RIFF-second");
    EXPECT_EQ(modeOf(files().recordings), 0700u);
    EXPECT_FALSE(std::filesystem::exists(store->recordingFile(notKept)));
}

TEST_F(HistoryStoreTest, TheSupportFolderIsPrivateEvenUnderAnOpenUmaskAndWhenMadeLoose) {
    const mode_t previous = ::umask(0);
    settings.set(SettingKeys::keepAudio, true);
    auto store = open();
    store->add(typedRecord(clock.now(), "hello"), "RIFF");
    ::umask(previous);
    EXPECT_EQ(modeOf(support()), 0700u);
    EXPECT_EQ(modeOf(files().recordings), 0700u);
    EXPECT_EQ(modeOf(files().history), 0600u);

    // A folder another user could write to is taken back at the next start.
    std::filesystem::permissions(support(), std::filesystem::perms(0777));
    store = open();
    EXPECT_EQ(modeOf(support()), 0700u);
}

TEST_F(HistoryStoreTest, WithRetentionOffAddTouchesNothing) {
    settings.set(SettingKeys::retention, Retention::off);
    settings.set(SettingKeys::keepAudio, true);
    auto store = open();
    store->add(typedRecord(monday, "secret words"), "RIFF");
    EXPECT_TRUE(store->entries().empty());
    EXPECT_FALSE(std::filesystem::exists(files().history));
    EXPECT_FALSE(std::filesystem::exists(files().totals));
    EXPECT_FALSE(std::filesystem::exists(files().recordings));
    EXPECT_EQ(store->totals(), Totals{});
}

TEST_F(HistoryStoreTest, RetentionDropsEntriesAtTheBoundaryAndTheirRecordings) {
    settings.set(SettingKeys::keepAudio, true);
    settings.set(SettingKeys::retention, Retention::forever);
    auto store = open();
    const Dictation old = agedRecord(86'400s, "old"), young = agedRecord(86'399s, "young"),
                    ancient = agedRecord(40 * 86'400s, "ancient");
    for (const auto& entry : {ancient, old, young}) {
        store->add(entry, "RIFF");
    }
    const Totals totals = store->totals();
    store->purge();
    EXPECT_EQ(store->entries().size(), 3u) << "forever keeps everything";

    settings.set(SettingKeys::retention, Retention::month);
    store->purge();
    EXPECT_EQ(textsOf(store->entries()), (std::vector<std::string>{"young", "old"}));
    EXPECT_FALSE(std::filesystem::exists(store->recordingFile(ancient)));

    settings.set(SettingKeys::retention, Retention::day);
    store->purge();
    EXPECT_EQ(textsOf(store->entries()), (std::vector<std::string>{"young"}));
    EXPECT_EQ(historyFile().load(), (std::vector{young}));
    EXPECT_FALSE(std::filesystem::exists(store->recordingFile(old)));
    EXPECT_TRUE(std::filesystem::exists(store->recordingFile(young)));
    EXPECT_EQ(store->totals(), totals) << "purging never takes from the totals";
    EXPECT_EQ(totalsFile().load(), totals);

    settings.set(SettingKeys::retention, Retention::off);
    store->purge();
    EXPECT_TRUE(store->entries().empty());
    EXPECT_EQ(readAll(files().history), "");
    EXPECT_FALSE(std::filesystem::exists(store->recordingFile(young)));
}

TEST_F(HistoryStoreTest, PurgeThatKeepsEverythingTouchesNoFile) {
    historyFile().save(std::vector{agedRecord(10s), agedRecord(5s)});
    struct stat before {};
    ::stat(files().history.c_str(), &before);
    auto store = open();
    store->purge();
    struct stat after {};
    ::stat(files().history.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was not replaced";
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_FALSE(std::filesystem::exists(files().totals)) << "totals wait for a counted dictation";
    EXPECT_EQ(entriesSignals, 0);
}

TEST_F(HistoryStoreTest, OpeningPurgesAndTheTimerKeepsPurging) {
    settings.set(SettingKeys::retention, Retention::day);
    historyFile().save(
        std::vector{agedRecord(2 * 86'400s, "expired"), agedRecord(3'600s, "fresh")});
    auto store = open(5ms);
    EXPECT_EQ(textsOf(store->entries()), (std::vector<std::string>{"fresh"}));

    // A day later the timer finds the last entry expired.
    clock.advance(86'400s);
    QDeadlineTimer deadline(10s);
    while (!store->entries().empty() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    EXPECT_TRUE(store->entries().empty());
    EXPECT_EQ(readAll(files().history), "");
}

TEST_F(HistoryStoreTest, CorrectAndDeleteRewriteTheFileButNeverTheTotals) {
    settings.set(SettingKeys::keepAudio, true);
    auto store = open();
    const Dictation first = typedRecord(monday - 10s, "first words"),
                    second = typedRecord(monday, "second words");
    store->add(first, "RIFF1");
    store->add(second, "RIFF2");
    const Totals totals = store->totals();

    store->correct(first, "  First words, corrected.  ");
    EXPECT_EQ(store->entries()[1].corrected, "First words, corrected.");
    EXPECT_EQ(store->entries()[1].id, first.id);
    EXPECT_EQ(historyFile().load()[0].corrected, "First words, corrected.");
    store->correct(first, "first words");
    EXPECT_EQ(historyFile().load()[0].corrected, std::nullopt) << "back to the text: no correction";

    store->deleteEntry(second);
    EXPECT_EQ(textsOf(store->entries()), (std::vector<std::string>{"first words"}));
    EXPECT_EQ(historyFile().load().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(store->recordingFile(second)));
    EXPECT_TRUE(std::filesystem::exists(store->recordingFile(first)));
    EXPECT_EQ(store->totals(), totals);
    EXPECT_EQ(store->problem(), std::nullopt);
}

TEST_F(HistoryStoreTest, RewritingDropsLinesThatWereNotRecordsButAppendingKeepsThem) {
    const Dictation a = agedRecord(20s, "a"), b = agedRecord(10s, "b");
    const std::string damaged =
        HistoryFile::line(a) + "not a record\n" + HistoryFile::line(b).substr(0, 30);
    writeAll(files().history, damaged);
    auto store = open();
    EXPECT_EQ(textsOf(store->entries()), (std::vector<std::string>{"a"}));

    const Dictation c = agedRecord(0s, "c");
    store->add(c);
    EXPECT_EQ(readAll(files().history), damaged + "\n" + HistoryFile::line(c))
        << "nothing in the file is lost by adding";

    store->deleteEntry(c);
    EXPECT_EQ(readAll(files().history), HistoryFile::line(a));
}

TEST_F(HistoryStoreTest, AnUnreadableHistoryIsNeverRewritten) {
    OrdinaryUser user({config.path(), data.path()});
    if (!user.active()) {
        GTEST_SKIP() << "cannot switch to an ordinary user, so file modes do not apply";
    }
    const Dictation a = agedRecord(20s, "a"), b = agedRecord(10s, "b");
    historyFile().save(std::vector{a, b});
    ::chmod(files().history.c_str(), 0000);
    auto store = open();
    EXPECT_EQ(store->problem(),
              "History couldn't be saved: couldn't read history.jsonl: Permission denied");
    EXPECT_TRUE(store->entries().empty());
    EXPECT_EQ(store->totals(), Totals{});

    // Readable again (the failure was passing): adding still appends and shows the entry, but
    // nothing may rewrite the file from the partial list in memory.
    ::chmod(files().history.c_str(), 0600);
    const Dictation c = agedRecord(0s, "c");
    store->add(c);
    EXPECT_EQ(textsOf(store->entries()), (std::vector<std::string>{"c"}));
    EXPECT_EQ(historyFile().load(), (std::vector{a, b, c}));
    EXPECT_EQ(store->totals(), Totals{}) << "totals would start from zero: not counted";
    EXPECT_FALSE(std::filesystem::exists(files().totals));

    store->deleteEntry(c);
    EXPECT_EQ(store->problem(), "History couldn't be saved: the history file could not be read");
    store->correct(c, "changed");
    settings.set(SettingKeys::retention, Retention::off);
    store->purge();
    EXPECT_EQ(historyFile().load(), (std::vector{a, b, c})) << "every line is still there";
    EXPECT_EQ(store->entries().size(), 1u);

    // Deleting everything is the way out.
    settings.set(SettingKeys::retention, Retention::month);
    store->deleteAll();
    EXPECT_EQ(store->problem(), std::nullopt);
    store->add(agedRecord(0s, "d e"));
    EXPECT_EQ(store->totals().words, 2);
    store->deleteEntry(store->entries()[0]);
    EXPECT_EQ(store->problem(), std::nullopt);
}

TEST_F(HistoryStoreTest, ADamagedTotalsFileIsLeftAsItIsAndNotCounted) {
    const std::string damaged = R"({"words":12,"seconds":)";
    writeAll(files().totals, damaged);
    auto store = open();
    ASSERT_TRUE(store->problem());
    EXPECT_EQ(store->problem()->rfind("History couldn't be saved: couldn't read totals.json", 0),
              0u);
    store->add(typedRecord(monday, "three more words"));
    EXPECT_EQ(store->totals(), Totals{});
    EXPECT_EQ(readAll(files().totals), damaged);
    EXPECT_EQ(store->entries().size(), 1u);
    EXPECT_EQ(store->problem(), std::nullopt) << "the add itself went well";
}

TEST_F(HistoryStoreTest, ABrokenTotalsFileNeverReachesTheLogOrTheProblemText) {
    // A 16 MB string that never ends: the parser's own message would quote it.
    std::string broken = R"({"words":")";
    broken += std::string(16 << 20, 'Q');
    writeAll(files().totals, broken);
    LogCapture captured;
    auto store = open();
    ASSERT_TRUE(store->problem());
    EXPECT_EQ(store->problem()->rfind("History couldn't be saved: couldn't read totals.json: "
                                      "not valid JSON (at byte ",
                                      0),
              0u)
        << store->problem()->substr(0, 300);
    EXPECT_LT(store->problem()->size(), 120u);
    const std::string logged = captured.text();
    EXPECT_EQ(logged.find("QQQ"), std::string::npos) << logged.substr(0, 300);
    EXPECT_LT(logged.size(), 2000u);
}

TEST_F(HistoryStoreTest, TotalsAreRebuiltFromTheHistoryWhenMissing) {
    const Calendar& calendar = berlin;
    const std::vector<Dictation> records{
        typedRecord(calendar.date(2025, 2, 28, 23, 30).value(), "one two"),
        typedRecord(calendar.date(2025, 3, 1, 0, 30).value(), "three"),
        unheardRecord(calendar.date(2025, 3, 2).value()),
    };
    historyFile().save(records);
    auto store = open();
    EXPECT_EQ(store->totals(),
              (Totals{3, 20, {"2025-02-28", "2025-03-01"}, {{"2025-02", {2}}, {"2025-03", {1}}}}));
    EXPECT_FALSE(std::filesystem::exists(files().totals)) << "written at the next dictation";
    store->add(typedRecord(monday, "four"));
    EXPECT_EQ(totalsFile().load()->words, 4);
}

TEST_F(HistoryStoreTest, EmptyMonthsAreRebuiltAndTheOtherFiguresKept) {
    historyFile().save(std::vector{typedRecord(monday, "one two three")});
    writeAll(files().totals, R"({"words":999,"seconds":60,"days":["2024-01-01"],"months":{}})");
    auto store = open();
    EXPECT_EQ(store->totals(), (Totals{999, 60, {"2024-01-01"}, {{"2025-03", {3}}}}));
}

TEST_F(HistoryStoreTest, CrossingARankSetsNewRankOnce) {
    totalsFile().save(Totals{498, 60, {}, {}});
    auto store = open();
    store->add(typedRecord(monday, "one"));
    EXPECT_EQ(store->newRank(), std::nullopt);
    store->add(typedRecord(monday, "two three"));
    EXPECT_EQ(store->newRank(), Rank::fledgling);
    EXPECT_EQ(rankSignals, 1);
    store->add(typedRecord(monday, words(100)));
    EXPECT_EQ(store->newRank(), Rank::fledgling) << "within the same rank it stays as it was";
    EXPECT_EQ(rankSignals, 1);

    store->setNewRank(std::nullopt); // the toast was shown
    store->add(typedRecord(monday, words(100)));
    EXPECT_EQ(store->newRank(), std::nullopt);
    store->add(typedRecord(monday, words(2'000)));
    EXPECT_EQ(store->newRank(), Rank::songbird);
}

TEST_F(HistoryStoreTest, AFailedTotalsSaveKeepsTheEntryButNotTheCount) {
    OrdinaryUser user({config.path(), data.path()});
    if (!user.active()) {
        GTEST_SKIP() << "cannot switch to an ordinary user, so file modes do not apply";
    }
    settings.set(SettingKeys::keepAudio, true);
    auto store = open();
    store->add(typedRecord(monday, "first"));
    const Totals before = store->totals();
    // No new files in the support folder: the totals cannot be replaced, the history can grow.
    ::chmod(support().c_str(), 0500);
    const Dictation entry = typedRecord(monday, "second entry");
    store->add(entry, "RIFF");
    ::chmod(support().c_str(), 0700);
    EXPECT_EQ(store->entries()[0], entry);
    EXPECT_EQ(historyFile().load().size(), 2u);
    EXPECT_EQ(store->totals(), before);
    EXPECT_EQ(totalsFile().load(), before);
    ASSERT_TRUE(store->problem());
    EXPECT_EQ(store->problem()->rfind("History couldn't be saved: couldn't save totals.json", 0),
              0u);
    EXPECT_FALSE(std::filesystem::exists(store->recordingFile(entry)));

    store->add(typedRecord(monday, "third"));
    EXPECT_EQ(store->problem(), std::nullopt) << "a later success clears the problem";
}

TEST_F(HistoryStoreTest, DeleteAllRemovesWhatExistsAndStartsAfresh) {
    settings.set(SettingKeys::keepAudio, true);
    auto store = open();
    store->add(typedRecord(monday, "some words"), "RIFF");
    writeAll(files().runs, "timing\n");
    writeAll(support() / "notes.json", "[]");
    writeAll(support() / "words.txt", "Kubernetes\n");
    ASSERT_TRUE(std::filesystem::exists(files().totals));

    store->deleteAll();
    for (const auto& gone : {files().history, files().recordings, files().runs, files().totals}) {
        EXPECT_FALSE(std::filesystem::exists(gone)) << gone;
    }
    EXPECT_TRUE(std::filesystem::exists(support() / "notes.json"));
    EXPECT_TRUE(std::filesystem::exists(support() / "words.txt"));
    EXPECT_TRUE(store->entries().empty());
    EXPECT_EQ(store->totals(), Totals{});
    EXPECT_EQ(store->problem(), std::nullopt);

    store->deleteAll(); // nothing left to remove is fine
    EXPECT_EQ(store->problem(), std::nullopt);
    store->add(typedRecord(monday, "again"));
    EXPECT_EQ(store->totals().words, 1);
}

TEST_F(HistoryStoreTest, DeleteAllStopsAtTheFirstFailure) {
    auto store = open();
    store->add(typedRecord(monday, "some words"));
    // A recording folder whose contents may not be removed.
    std::filesystem::create_directories(files().recordings / "stuck");
    writeAll(files().runs, "timing\n");
    OrdinaryUser user({config.path(), data.path()});
    if (!user.active()) {
        GTEST_SKIP() << "cannot switch to an ordinary user, so file modes do not apply";
    }
    ::chmod(files().recordings.c_str(), 0500);
    store->deleteAll();
    ::chmod(files().recordings.c_str(), 0700);
    ASSERT_TRUE(store->problem());
    EXPECT_EQ(
        store->problem()->rfind("History couldn't be saved: couldn't remove the recordings", 0),
        0u);
    EXPECT_FALSE(std::filesystem::exists(files().history)) << "what was removed stays removed";
    EXPECT_TRUE(std::filesystem::exists(files().runs)) << "later items are left";
    EXPECT_TRUE(std::filesystem::exists(files().totals));
}

// The connector reads the history and the notes while the stores rewrite them.
TEST_F(HistoryStoreTest, AnotherProcessReadsWholeFilesWhileStoresRewriteThem) {
    constexpr int count = 60;
    std::vector<Dictation> records;
    for (int i = 0; i < count; ++i) {
        records.push_back(
            agedRecord(std::chrono::seconds(count - i), "same text" + std::string(300, '.')));
    }
    historyFile().save(records);
    auto store = open();
    NoteStore notes(support() / "notes.json", clock);
    const std::string noteId = notes.addNote().value();
    notes.editNote(noteId, "draft");

    RunningProcess reader({HISTORY_FILE_PROBE, "read", support().string(), std::to_string(count),
                           "1", (data / "stop").string()});
    ASSERT_EQ(reader.readLine(), "ready");
    for (int round = 0; round < 30; ++round) {
        const Dictation& entry = store->entries()[static_cast<std::size_t>(round % count)];
        store->correct(entry, "correction " + std::to_string(round));
        notes.editNote(noteId, "draft " + std::to_string(round) + std::string(2'000, '.'));
    }
    writeAll(data / "stop", "");
    const auto reads = reader.readLine();
    EXPECT_EQ(reader.wait(), 0);
    ASSERT_TRUE(reads);
    EXPECT_GT(std::stol(*reads), 0);
    EXPECT_EQ(store->problem(), std::nullopt);
    EXPECT_EQ(notes.problem(), std::nullopt);
}

} // namespace
