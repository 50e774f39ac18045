#include "FixedClock.h"
#include "Records.h"
#include "TestSupport.h"
#include "storage/Stores.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

const Timestamp start = referenceDate(800000000);

class StoresTest : public testing::Test {
  protected:
    std::filesystem::path notesFile() const { return dir / "support/notes.json"; }
    std::filesystem::path snippetsFile() const { return dir / "support/snippets.json"; }
    std::filesystem::path wordsFile() const { return dir / "support/words.txt"; }

    TempDir dir;
    FixedClock clock{start};
};

TEST_F(StoresTest, AMissingNotesFileIsAnEmptyLoadedStore) {
    NoteStore store(notesFile(), clock);
    EXPECT_TRUE(store.isLoaded());
    EXPECT_TRUE(store.items().empty());
    EXPECT_FALSE(std::filesystem::exists(notesFile()));

    int changes = 0;
    QObject::connect(&store, &ListStoreBase::itemsChanged, [&] { ++changes; });
    const auto id = store.addNote();
    ASSERT_TRUE(id);
    EXPECT_EQ(store.items(), (std::vector<Note>{{*id, start, ""}}));
    EXPECT_EQ(JSONFile<std::vector<Note>>(notesFile()).load(), store.items());
    EXPECT_EQ(modeOf(notesFile()), 0600u);
    EXPECT_EQ(changes, 1);

    clock.advance(10s);
    EXPECT_EQ(store.addNote(), id) << "the empty note is reused";
    EXPECT_EQ(store.items().size(), 1u);
}

TEST_F(StoresTest, EditingAndDeletingNotes) {
    NoteStore store(notesFile(), clock);
    const auto first = store.addNote().value();
    store.editNote(first, "Groceries\nmilk");
    clock.advance(60s);
    const auto second = store.addNote().value();
    EXPECT_NE(first, second);
    store.editNote(second, "Call back");
    EXPECT_EQ(store.items().front().id, second) << "new notes go first";
    EXPECT_EQ(store.items().back().title(), "Groceries");

    // An edit to the same text changes neither the date nor the file.
    std::filesystem::remove(notesFile());
    clock.advance(60s);
    store.editNote(first, "Groceries\nmilk");
    EXPECT_FALSE(std::filesystem::exists(notesFile()));
    EXPECT_EQ(store.items().back().date, start);

    store.editNote(first, "Groceries\nmilk\neggs");
    EXPECT_EQ(store.items().back().date, start + 120s);
    EXPECT_EQ(store.items().back().id, first) << "edited in place";
    store.deleteNote(second);
    EXPECT_EQ(JSONFile<std::vector<Note>>(notesFile()).load(),
              (std::vector<Note>{{first, start + 120s, "Groceries\nmilk\neggs"}}));
}

TEST_F(StoresTest, UnreadableNotesAreNeverOverwritten) {
    OrdinaryUser user({dir.path()});
    const std::string secret =
        R"([{"id":"6B29FC40-CA47-4067-B31D-00DD010662DA","date":1,"text":"my secret plan")";
    struct Row {
        const char* what;
        std::string problemStart;
        bool needsModes;
    } rows[] = {
        {"a damaged file", "Couldn't read these: couldn't read notes.json: ", false},
        {"a file without read permission",
         "Couldn't read these: couldn't read notes.json: Permission denied", true},
    };
    for (const auto& row : rows) {
        if (row.needsModes && !user.active()) {
            GTEST_SKIP() << "cannot switch to an ordinary user, so file modes do not apply";
        }
        writeAll(notesFile(), secret);
        ::chmod(notesFile().c_str(), row.needsModes ? 0200 : 0600);
        testing::internal::CaptureStderr();
        NoteStore store(notesFile(), clock);
        const std::string logged = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(store.isLoaded()) << row.what;
        ASSERT_TRUE(store.problem()) << row.what;
        EXPECT_EQ(store.problem()->rfind(row.problemStart, 0), 0u) << *store.problem();
        EXPECT_NE(logged.find("couldn't read notes.json: FileError"), std::string::npos) << logged;
        EXPECT_EQ(logged.find("secret"), std::string::npos) << "the log never quotes a note";

        int changes = 0;
        QObject::connect(&store, &ListStoreBase::itemsChanged, [&] { ++changes; });
        EXPECT_EQ(store.addNote(), std::nullopt);
        store.editNote("6B29FC40-CA47-4067-B31D-00DD010662DA", "overwritten");
        store.deleteNote("6B29FC40-CA47-4067-B31D-00DD010662DA");
        store.save({});
        EXPECT_TRUE(store.items().empty());
        EXPECT_EQ(changes, 0);
        ::chmod(notesFile().c_str(), 0600);
        EXPECT_EQ(readAll(notesFile()), secret) << row.what;
    }
}

TEST_F(StoresTest, AFailedSaveKeepsTheNewListShownUntilASaveWorks) {
    SnippetStore store(snippetsFile());
    EXPECT_TRUE(store.addOrChange("my address", "1 Long Road"));
    {
        const FileSizeLimit full(8); // a full disk makes the next save fail
        EXPECT_FALSE(store.addOrChange("sign off", "Best wishes"));
    }
    ASSERT_TRUE(store.problem());
    EXPECT_EQ(store.problem()->rfind("Couldn't save these: couldn't save snippets.json", 0), 0u);
    EXPECT_EQ(store.items().size(), 2u) << "the new list stays on screen";
    EXPECT_EQ(JSONFile<std::vector<Snippet>>(snippetsFile()).load()->size(), 1u);

    EXPECT_TRUE(store.addOrChange("thanks", "Thank you very much"));
    EXPECT_EQ(store.problem(), std::nullopt);
    EXPECT_EQ(JSONFile<std::vector<Snippet>>(snippetsFile()).load(), store.items());
}

TEST_F(StoresTest, SnippetsAreAddedFirstAndChangedByIdOrPhrase) {
    SnippetStore store(snippetsFile());
    ASSERT_TRUE(store.addOrChange("my  address", "1 Long Road"));
    ASSERT_TRUE(store.addOrChange("sign off", "Best"));
    const std::string addressId = store.items().back().id;
    EXPECT_EQ(store.items().back().phrase, "my address");

    EXPECT_TRUE(store.addOrChange("home address", "2 Short Lane", addressId));
    ASSERT_EQ(store.items().size(), 2u);
    EXPECT_EQ(store.items().front().id, addressId) << "the changed snippet keeps its id";
    EXPECT_EQ(store.items().front().phrase, "home address");

    EXPECT_TRUE(store.addOrChange("SIGN OFF", "Kind regards"));
    ASSERT_EQ(store.items().size(), 2u) << "the same phrase in other case replaces";
    EXPECT_EQ(store.items().front().text, "Kind regards");

    const auto before = store.items();
    EXPECT_FALSE(store.addOrChange("  ", "text"));
    EXPECT_FALSE(store.addOrChange("phrase", " \n "));
    EXPECT_EQ(store.items(), before);
}

TEST_F(StoresTest, OtherThreadsReadWholeListsFromTheCopy) {
    SnippetStore store(snippetsFile());
    std::atomic<bool> done = false;
    std::atomic<int> torn = 0, reads = 0;
    // Every list the store publishes holds snippets that all share one text.
    std::thread reader([&] {
        while (!done) {
            const auto copy = store.copy();
            for (const auto& snippet : copy) {
                if (snippet.text != copy.front().text) {
                    ++torn;
                }
            }
            ++reads;
        }
    });
    for (int round = 0; round < 60; ++round) {
        std::vector<Snippet> list;
        for (int i = 0; i < 20; ++i) {
            list.push_back(
                Snippet::make("phrase " + std::to_string(i), "round " + std::to_string(round)));
        }
        store.save(list);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(store.copy(), store.items());
}

TEST_F(StoresTest, WordsAreReadAsUniqueTermsAndWrittenOnePerLine) {
    writeAll(wordsFile(), "# my words\nKubernetes\n  Grafana  \nkubernetes\n\nPost  gres\n");
    WordStore store(wordsFile());
    EXPECT_TRUE(store.isLoaded());
    EXPECT_EQ(store.terms(), (std::vector<std::string>{"Kubernetes", "Grafana", "Post gres"}));

    store.add("Terraform");
    store.add("GRAFANA");
    EXPECT_EQ(readAll(wordsFile()), "Kubernetes\nGrafana\nPost gres\nTerraform\n");
    store.save({});
    EXPECT_EQ(readAll(wordsFile()), "\n");
    EXPECT_TRUE(store.terms().empty());

    WordStore fresh(dir / "elsewhere/words.txt");
    EXPECT_TRUE(fresh.isLoaded());
    fresh.save({"Zig"});
    EXPECT_EQ(readAll(dir / "elsewhere/words.txt"), "Zig\n") << "the folder is made";
}

TEST_F(StoresTest, UnreadableWordsAreNeverOverwritten) {
    OrdinaryUser user({dir.path()});
    writeAll(wordsFile(), "Caf\xe9\n"); // Latin-1, not UTF-8
    WordStore store(wordsFile());
    EXPECT_FALSE(store.isLoaded());
    EXPECT_EQ(store.problem(), "Couldn't read your words: couldn't read words.txt: not UTF-8 text");
    store.save({"Kubernetes"});
    store.add("Grafana");
    EXPECT_EQ(readAll(wordsFile()), "Caf\xe9\n");
    EXPECT_TRUE(store.terms().empty());

    if (!user.active()) {
        GTEST_SKIP() << "cannot switch to an ordinary user, so file modes do not apply";
    }
    writeAll(wordsFile(), "Kubernetes\n");
    ::chmod(wordsFile().c_str(), 0000);
    WordStore locked(wordsFile());
    EXPECT_EQ(locked.problem(),
              "Couldn't read your words: couldn't read words.txt: Permission denied");
    locked.save({});
    ::chmod(wordsFile().c_str(), 0600);
    EXPECT_EQ(readAll(wordsFile()), "Kubernetes\n");
}

TEST_F(StoresTest, AFailedWordSaveKeepsTheOldTerms) {
    WordStore store(wordsFile());
    store.save({"Kubernetes"});
    {
        const FileSizeLimit full(8);
        store.save({"Kubernetes", "Grafana"});
    }
    ASSERT_TRUE(store.problem());
    EXPECT_EQ(store.problem()->rfind("Couldn't save: couldn't save words.txt", 0), 0u);
    EXPECT_EQ(store.terms(), (std::vector<std::string>{"Kubernetes"}));
    store.save({"Kubernetes", "Grafana"});
    EXPECT_EQ(store.problem(), std::nullopt);
    EXPECT_EQ(store.terms().size(), 2u);
}

} // namespace
