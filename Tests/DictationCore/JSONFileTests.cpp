#include "JSONFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Doc {
    std::string title;
    std::vector<int> values;
    bool operator==(const Doc&) const = default;
};
void to_json(nlohmann::ordered_json& json, const Doc& doc) {
    json = {{"title", doc.title}, {"values", doc.values}};
}
void from_json(const nlohmann::ordered_json& json, Doc& doc) {
    json.at("title").get_to(doc.title);
    json.at("values").get_to(doc.values);
}

TEST(JSONFile, MissingFileLoadsAsNothing) {
    TempDir dir;
    EXPECT_EQ(JSONFile<Doc>(dir / "absent.json").load(), std::nullopt);
}

TEST(JSONFile, SavesCompactInDeclarationOrderAndLoadsBack) {
    TempDir dir;
    JSONFile<Doc> file(dir / "doc.json");
    const Doc doc{"ünïcode / slash", {3, 1, 2}};
    file.save(doc);
    EXPECT_EQ(readAll(file.url()), R"({"title":"ünïcode / slash","values":[3,1,2]})");
    EXPECT_EQ(file.load(), doc);
}

TEST(JSONFile, NewFilesArePrivateAndTheirFolderIsCreated) {
    TempDir dir;
    const auto deep = dir / "support/nested/notes.json";
    JSONFile<Doc>(deep).save({"a", {}});
    EXPECT_EQ(modeOf(deep), 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(deep.parent_path()), {}), 1)
        << "no temporary file stays behind";
}

TEST(JSONFile, ReplacingKeepsTheFilePrivateEvenIfItWasNot) {
    TempDir dir;
    writeAll(dir / "doc.json", R"({"title":"old","values":[]})");
    ::chmod((dir / "doc.json").c_str(), 0644);
    JSONFile<Doc>(dir / "doc.json").save({"new", {}});
    EXPECT_EQ(modeOf(dir / "doc.json"), 0600u);
}

TEST(JSONFile, AStalePartFileFromAnInterruptedSaveIsReplaced) {
    TempDir dir;
    writeAll(dir / "notes.json.part", "{\"title\":\"half-writ");
    JSONFile<Doc> file(dir / "notes.json");
    file.save({"whole", {1}});
    EXPECT_EQ(file.load(), (Doc{"whole", {1}}));
    EXPECT_FALSE(std::filesystem::exists(dir / "notes.json.part"));
}

TEST(JSONFile, DamagedFilesThrowAndAreLeftAsTheyAre) {
    TempDir dir;
    const std::vector<std::string> damaged = {"", "{\"title\":\"cut", "[1,2,3]",
                                              R"({"title":5,"values":[]})", "\xff\xfe garbage"};
    for (const auto& bytes : damaged) {
        writeAll(dir / "doc.json", bytes);
        EXPECT_THROW(JSONFile<Doc>(dir / "doc.json").load(), FileError) << bytes;
        EXPECT_EQ(readAll(dir / "doc.json"), bytes);
    }
}

TEST(JSONFile, AnUnreadableFileThrowsRatherThanLoadingAsMissing) {
    TempDir dir;
    std::filesystem::create_directory(dir / "doc.json"); // reading a folder fails even as root
    EXPECT_THROW(JSONFile<Doc>(dir / "doc.json").load(), FileError);
}

TEST(JSONFile, AFolderThatCannotBeCreatedThrowsAndWritesNothing) {
    TempDir dir;
    writeAll(dir / "blocker", "a file where a folder should be");
    EXPECT_THROW(JSONFile<Doc>(dir / "blocker/support/doc.json").save({"x", {}}), FileError);
    EXPECT_EQ(readAll(dir / "blocker"), "a file where a folder should be");
}

TEST(JSONFile, AFailedRenameLeavesTheOldDocument) {
    TempDir dir;
    // A non-empty folder at the target: the rename fails and nothing is lost.
    std::filesystem::create_directories(dir / "doc.json/keep");
    writeAll(dir / "doc.json/keep/data", "precious");
    EXPECT_THROW(JSONFile<Doc>(dir / "doc.json").save({"x", {}}), FileError);
    EXPECT_EQ(readAll(dir / "doc.json/keep/data"), "precious");
}

TEST(JSONFile, AReaderInAnotherProcessAlwaysSeesAWholeDocument) {
    TempDir dir;
    JSONFile<Doc> file(dir / "doc.json");
    file.save({"start", {}});

    const pid_t reader = ::fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        // Child: read until the parent's marker appears; any half document fails the test.
        int reads = 0;
        for (;;) {
            try {
                auto doc = JSONFile<Doc>(dir / "doc.json").load();
                ++reads;
                if (doc && doc->title == "done") {
                    ::_exit(reads > 10 ? 0 : 3);
                }
            } catch (...) {
                ::_exit(1);
            }
        }
    }
    const std::vector<int> big(20000, 7);
    for (int i = 0; i < 300; ++i) {
        file.save({"round " + std::to_string(i), i % 2 ? big : std::vector<int>{i}});
    }
    file.save({"done", {}});
    int status = 0;
    ::waitpid(reader, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the reader saw a damaged document; 3: too few reads";
}

} // namespace
