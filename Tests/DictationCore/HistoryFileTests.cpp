#include "HistoryFile.h"
#include "JSONFile.h"
#include "Notes.h"
#include "ProcessRunner.h"
#include "Records.h"
#include "TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string lineOf(const Dictation& record) {
    return HistoryFile::line(record);
}

std::vector<std::string> textsOf(const std::vector<Dictation>& records) {
    std::vector<std::string> texts;
    for (const auto& record : records) {
        texts.push_back(record.text);
    }
    return texts;
}

// The same record each time for the same number.
Dictation numbered(int n) {
    Dictation record = typedRecord(referenceDate(700000000 + n), "record " + std::to_string(n));
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
    record.id = id;
    return record;
}

TEST(HistoryFile, AMissingFileIsAnEmptyHistory) {
    TempDir dir;
    EXPECT_TRUE(HistoryFile(dir / "history.jsonl").load().empty());
}

TEST(HistoryFile, AppendedRecordsLoadBackInOrderAndUnchanged) {
    TempDir dir;
    const HistoryFile file(dir / "support/history.jsonl");
    Dictation first = numbered(1);
    first.corrected = "Record one, corrected";
    Dictation second = unheardRecord(referenceDate(700000002.5), Outcome::failed, "Terminal");
    file.append(first);
    file.append(second);
    EXPECT_EQ(file.load(), (std::vector<Dictation>{first, second}));
    EXPECT_EQ(readAll(file.url()), lineOf(first) + lineOf(second));
    EXPECT_EQ(modeOf(file.url()), 0600u) << "the first append creates the file private";
}

// The file is read a piece (a megabyte) at a time: lines that cross from one piece into the
// next, lines longer than a piece, a broken line across a boundary and a last line without its
// line feed all come out as written.
TEST(HistoryFile, LinesLoadWholeWhereverTheReadPiecesEnd) {
    struct Row {
        const char* name;
        std::vector<std::size_t> textSizes;
        std::optional<std::size_t> broken; // this record's line loses its closing brace
        bool finalLineFeed;
    };
    const std::vector<Row> rows = {
        {"short lines across several boundaries", std::vector<std::size_t>(9000, 300), 2330, true},
        {"lines longer than one and two pieces", {500, 2'500'000, 700, 3'100'000, 20}, 2, true},
        {"a last line without its line feed", std::vector<std::size_t>(5000, 400), {}, false},
        {"a long last line without its line feed", {1'048'000, 1'048'600}, {}, false},
    };
    for (const auto& row : rows) {
        TempDir dir;
        std::vector<Dictation> expected;
        std::string bytes;
        for (std::size_t i = 0; i < row.textSizes.size(); ++i) {
            Dictation record = numbered(static_cast<int>(i));
            record.text = std::string(row.textSizes[i], static_cast<char>('a' + i % 26));
            std::string line = lineOf(record);
            if (row.broken == i) {
                line.erase(line.rfind('}'), 1);
            } else {
                expected.push_back(record);
            }
            bytes += line;
        }
        if (!row.finalLineFeed) {
            bytes.pop_back();
        }
        writeAll(dir / "history.jsonl", bytes);
        const auto loaded = HistoryFile(dir / "history.jsonl").load();
        EXPECT_EQ(loaded.size(), expected.size()) << row.name;
        EXPECT_TRUE(loaded == expected) << row.name;
    }
}

TEST(HistoryFile, BadLinesAreSkippedAndEveryGoodLineLoads) {
    TempDir dir;
    const HistoryFile file(dir / "history.jsonl");
    std::string good1 = lineOf(numbered(1)), good2 = lineOf(numbered(2)),
                good3 = lineOf(numbered(3));
    auto edited = [](std::string line, const std::string& from, const std::string& to) {
        line.replace(line.find(from), from.size(), to);
        return line.substr(0, line.size() - 1);
    };
    const std::string bad[] = {
        "",
        "   ",
        "this is not json",
        "[1,2,3]",
        "null",
        edited(good1, "\"typed\"", "\"typed-later\""),           // a foreign outcome
        edited(good1, ",\"totalMs\":500", ""),                   // a required key missing
        edited(good1, "\"seconds\":10.0", "\"seconds\":\"10\""), // a number as text
        edited(good1, "\"app\":\"Editor\"", "\"app\":null"),
        edited(good1, "\"totalMs\":500", "\"totalMs\":500.5"),
        edited(good1, "\"id\":\"", "\"id\":\"not-a-uuid"),
        edited(good1, "\"text\":\"record 1\"", "\"text\":\"\xff\xfe\""), // not UTF-8
        edited(good1, "}", "} trailing"),
    };
    std::string bytes = "\n" + good1;
    for (const auto& line : bad) {
        bytes += line + "\n";
    }
    bytes += good2 + "\n\n" + good3;
    bytes += good1.substr(0, good1.size() / 2); // a last line cut short
    writeAll(file.url(), bytes);

    EXPECT_EQ(textsOf(file.load()), (std::vector<std::string>{"record 1", "record 2", "record 3"}));
    EXPECT_EQ(readAll(file.url()), bytes) << "reading never changes the file";
}

TEST(HistoryFile, ReadersAreLenientWhereNothingIsLost) {
    const std::string base = lineOf(numbered(7));
    auto variant = [&](const std::string& from, const std::string& to) {
        std::string line = base;
        line.replace(line.find(from), from.size(), to);
        return line;
    };
    struct Row {
        std::string line;
        const char* what;
    } rows[] = {
        {variant("{", R"({"extra":{"nested":[1,2]},"version":3,)"), "unknown keys"},
        {variant("\"totalMs\":500", "\"totalMs\":500.0"), "an integer written as a real"},
        {variant("\"seconds\":10.0", "\"seconds\":1e1"), "an exponent"},
        {variant(",\"totalMs\":500", ",\"corrected\":null,\"totalMs\":500"), "null for absent"},
        {variant("00000000-0000-4000-8000-000000000007", "00000000-0000-4000-8000-00000000000a"),
         "a lower-case id"},
        {"\t" + base.substr(0, base.size() - 1) + " \r", "surrounding white space and CR LF"},
    };
    for (const auto& row : rows) {
        const auto record = HistoryFile::decode(row.line);
        ASSERT_TRUE(record) << row.what;
        EXPECT_EQ(record->text, "record 7") << row.what;
        EXPECT_EQ(record->totalMs, 500) << row.what;
        EXPECT_EQ(record->id.substr(0, 24), "00000000-0000-4000-8000-") << row.what;
        EXPECT_EQ(record->id, Uuid::canonical(record->id)) << row.what;
        EXPECT_EQ(record->corrected, std::nullopt) << row.what;
    }
}

TEST(HistoryFile, AppendStartsANewLineAfterOneThatWasCutShort) {
    TempDir dir;
    const HistoryFile file(dir / "history.jsonl");
    const std::string complete = lineOf(numbered(1));
    // A whole record without its line feed, then a record cut off in the middle.
    for (const std::string& ending :
         {complete.substr(0, complete.size() - 1), complete + complete.substr(0, 40)}) {
        writeAll(file.url(), ending);
        file.append(numbered(2));
        EXPECT_EQ(readAll(file.url()), ending + "\n" + lineOf(numbered(2)));
        EXPECT_EQ(textsOf(file.load()), (std::vector<std::string>{"record 1", "record 2"}));
    }
}

TEST(HistoryFile, AppendKeepsEveryExistingByteAndTheFileMode) {
    TempDir dir;
    const HistoryFile file(dir / "history.jsonl");
    const std::string before = lineOf(numbered(1)) + "garbage line\n" + R"({"id":"x"})" + "\n";
    writeAll(file.url(), before);
    ::chmod(file.url().c_str(), 0640);
    const Dictation added = numbered(2);
    file.append(added);
    EXPECT_EQ(readAll(file.url()), before + lineOf(added));
    EXPECT_EQ(modeOf(file.url()), 0640u);
}

TEST(HistoryFile, AppendToAnEmptyFileWritesNoLeadingLineFeed) {
    TempDir dir;
    const HistoryFile file(dir / "history.jsonl");
    writeAll(file.url(), "");
    file.append(numbered(1));
    EXPECT_EQ(readAll(file.url()), lineOf(numbered(1)));
}

TEST(HistoryFile, SaveReplacesTheWholeFilePrivatelyAndDropsWhatItCouldNotRead) {
    TempDir dir;
    const HistoryFile file(dir / "history.jsonl");
    writeAll(file.url(), lineOf(numbered(1)).insert(1, R"("extra":true,)") + "garbage\n");
    ::chmod(file.url().c_str(), 0644);
    writeAll(dir / "history.jsonl.part", "left from a crash");

    const auto loaded = file.load();
    file.save(loaded);
    EXPECT_EQ(readAll(file.url()), lineOf(numbered(1)));
    EXPECT_EQ(modeOf(file.url()), 0600u);
    EXPECT_FALSE(std::filesystem::exists(dir / "history.jsonl.part"));

    file.save({});
    EXPECT_TRUE(std::filesystem::exists(file.url()));
    EXPECT_EQ(readAll(file.url()), "");
    EXPECT_EQ(modeOf(file.url()), 0600u);
}

TEST(HistoryFile, AnUnreadableFileThrowsInsteadOfLookingEmpty) {
    TempDir dir;
    {
        OrdinaryUser user({dir.path()});
        if (!user.active()) {
            GTEST_SKIP() << "cannot switch to an ordinary user, so file modes do not apply";
        }
        const HistoryFile file(dir / "history.jsonl");
        file.append(numbered(1));
        ::chmod(file.url().c_str(), 0200);
        EXPECT_THROW(file.load(), FileError);
        EXPECT_THROW(file.append(numbered(2)), FileError) << "appending needs the last byte";
        ::chmod(file.url().c_str(), 0600);
        EXPECT_EQ(file.load().size(), 1u);
    }
}

// The connector process reads while the app rewrites: every load it makes must be one whole
// generation, never a mixture or a part.
TEST(HistoryFile, AReaderProcessOnlySeesWholeDocumentsDuringRewrites) {
    TempDir dir;
    constexpr std::size_t records = 100, notes = 30;
    const HistoryFile history(dir / "history.jsonl");
    const JSONFile<std::vector<Note>> notesFile(dir / "notes.json");
    auto writeGeneration = [&](int generation) {
        std::vector<Dictation> list(records, typedRecord(referenceDate(generation), ""));
        for (auto& record : list) {
            record.text = "generation " + std::to_string(generation) + std::string(400, '.');
        }
        history.save(list);
        std::vector<Note> noteList(notes);
        for (auto& note : noteList) {
            note.text = "generation " + std::to_string(generation) + std::string(400, '.');
        }
        notesFile.save(noteList);
    };
    writeGeneration(0);

    RunningProcess reader({HISTORY_FILE_PROBE, "read", dir.path().string(), std::to_string(records),
                           std::to_string(notes), (dir / "stop").string()});
    ASSERT_EQ(reader.readLine(), "ready");
    for (int generation = 1; generation <= 40; ++generation) {
        writeGeneration(generation);
    }
    writeAll(dir / "stop", "");
    const auto reads = reader.readLine();
    EXPECT_EQ(reader.wait(), 0);
    ASSERT_TRUE(reads);
    EXPECT_GT(std::stol(*reads), 0);
}

// A crash at any byte of a save leaves the old or the new document, never a mixture: the
// writer process is killed by the system at a chosen file size.
TEST(HistoryFile, AWriterKilledMidSaveLeavesWholeFiles) {
    TempDir dir;
    constexpr std::size_t records = 10, notes = 60; // notes larger than the history
    auto write = [&](int generation, std::optional<std::uintmax_t> limit) {
        std::vector<std::string> command{HISTORY_FILE_PROBE,        "write",
                                         dir.path().string(),       std::to_string(records),
                                         std::to_string(notes),     std::to_string(generation),
                                         std::to_string(generation)};
        if (limit) {
            command.push_back(std::to_string(*limit));
        }
        return runProcess(command).status;
    };
    auto generationOf = [](const auto& list) {
        return list.empty() ? std::string()
                            : list.front().text.substr(0, list.front().text.find('.'));
    };
    ASSERT_EQ(write(1, std::nullopt), 0);
    const auto historySize = std::filesystem::file_size(dir / "history.jsonl");
    const auto notesSize = std::filesystem::file_size(dir / "notes.json");

    struct Row {
        std::uintmax_t limit;
        const char* history;
        const char* notes;
    } rows[] = {
        {1, "generation 1", "generation 1"},
        {4096, "generation 1", "generation 1"},
        {historySize / 2, "generation 1", "generation 1"},
        {historySize - 1, "generation 1", "generation 1"},
        {(historySize + notesSize) / 2, "generation 2", "generation 1"},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(write(1, std::nullopt), 0);
        EXPECT_EQ(write(2, row.limit), 128 + SIGXFSZ) << "the writer must die mid-save";
        const auto history = HistoryFile(dir / "history.jsonl").load();
        EXPECT_EQ(history.size(), records) << row.limit;
        for (const auto& record : history) {
            EXPECT_EQ(generationOf(std::vector{record}), row.history) << row.limit;
        }
        EXPECT_EQ(std::filesystem::file_size(dir / "history.jsonl"), historySize) << row.limit;
        const auto noteList = JSONFile<std::vector<Note>>(dir / "notes.json").load();
        ASSERT_TRUE(noteList) << row.limit;
        EXPECT_EQ(noteList->size(), notes);
        EXPECT_EQ(generationOf(*noteList), row.notes) << row.limit;
    }
}

TEST(HistoryFile, AnAppendInAnotherProcessDuringRewritesIsNeverLost) {
    TempDir dir;
    const HistoryFile file(dir / "history.jsonl");
    file.save(std::vector<Dictation>{numbered(0)});
    constexpr int appends = 100;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 1; i <= appends; ++i) {
            file.append(numbered(i));
        }
        ::_exit(0);
    }
    // Rewrites that keep everything, as a purge or a correction elsewhere would.
    for (int i = 0; i < 150; ++i) {
        file.rewrite([](std::vector<Dictation> list) { return list; });
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(file.load().size(), static_cast<std::size_t>(appends + 1));
}

TEST(HistoryFile, ARecordWithADeepFieldNobodyReadsLoadsAndSurvivesARewrite) {
    TempDir dir;
    const HistoryFile file(dir / "history.jsonl");
    std::string deep = lineOf(numbered(1));
    const std::size_t levels = 100'000;
    deep.insert(1, "\"later\":" + std::string(levels, '[') + std::string(levels, ']') + ",");
    writeAll(file.url(), deep + lineOf(numbered(2)));
    ASSERT_EQ(file.load().size(), 2u);
    const auto rewritten = file.rewrite([](std::vector<Dictation> list) { return list; });
    EXPECT_EQ(rewritten.after.size(), 2u);
    EXPECT_EQ(file.load().size(), 2u) << "the record stays, without the field it never read";
}

} // namespace
