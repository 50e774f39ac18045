#include "Files.h"
#include "TestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string errorOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const FileError& error) {
        return error.what();
    }
    return "no error";
}

class Umask {
  public:
    explicit Umask(mode_t mask) : previous_(::umask(mask)) {}
    ~Umask() { ::umask(previous_); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

  private:
    mode_t previous_;
};

struct Writer {
    const char* name;
    std::function<void(const fs::path&)> write;
};

const std::vector<Writer>& writers() {
    static const std::vector<Writer> all{
        {"createPrivate", [](const fs::path& file) { Files::createPrivate(file); }},
        {"writeNew", [](const fs::path& file) { Files::writeNew(file, "bytes"); }},
        {"appendLine", [](const fs::path& file) { Files::appendLine(file, "a line"); }},
        {"replaceAtomically", [](const fs::path& file) { Files::replaceAtomically(file, "doc"); }},
    };
    return all;
}

TEST(Files, NewFilesArePrivateWhateverTheUmask) {
    // 0277 takes even the owner's write bit, which only an explicit fchmod gives back.
    for (const mode_t mask : {0000, 0022, 0077, 0277}) {
        for (const auto& writer : writers()) {
            TempDir dir;
            {
                const Umask umask(mask);
                writer.write(dir / "file");
            }
            EXPECT_EQ(modeOf(dir / "file"), 0600u)
                << writer.name << " under umask 0" << std::oct << mask;
        }
    }
}

TEST(Files, ExistingFilesKeepTheirModeUnlessOpenedAsPrivate) {
    TempDir dir;
    writeAll(dir / "settings.ini", "[General]\n");
    ::chmod((dir / "settings.ini").c_str(), 0644);
    Files::createPrivate(dir / "settings.ini");
    EXPECT_EQ(modeOf(dir / "settings.ini"), 0600u) << "others lose what they could read";
    EXPECT_EQ(readAll(dir / "settings.ini"), "[General]\n");

    ::chmod((dir / "settings.ini").c_str(), 0400);
    Files::createPrivate(dir / "settings.ini", Files::Contents::discard);
    EXPECT_EQ(modeOf(dir / "settings.ini"), 0400u) << "the owner's own bits stay";
    EXPECT_EQ(readAll(dir / "settings.ini"), "");

    writeAll(dir / "history.jsonl", "one\n");
    ::chmod((dir / "history.jsonl").c_str(), 0640);
    Files::appendLine(dir / "history.jsonl", "two");
    EXPECT_EQ(modeOf(dir / "history.jsonl"), 0640u);

    // The AI apps' settings files keep the mode their app gave them.
    writeAll(dir / "mcp.json", "{}");
    Files::replaceAtomically(dir / "mcp.json", "{\"mcpServers\":{}}", 0644);
    EXPECT_EQ(modeOf(dir / "mcp.json"), 0644u);
    Files::replaceAtomically(dir / "mcp.json", "{}");
    EXPECT_EQ(modeOf(dir / "mcp.json"), 0600u);
}

TEST(Files, ALinkWhereAPrivateFileBelongsIsNeverWrittenThrough) {
    TempDir dir;
    writeAll(dir / "elsewhere", "someone else's");
    fs::create_symlink(dir / "elsewhere", dir / "log.txt");
    fs::create_symlink(dir / "nowhere", dir / "dangling.txt");
    const unsigned modeBefore = modeOf(dir / "elsewhere");

    EXPECT_EQ(errorOf([&] { Files::createPrivate(dir / "log.txt"); }),
              "couldn't create log.txt: refusing a symbolic link");
    EXPECT_EQ(errorOf([&] { Files::appendLine(dir / "log.txt", "line"); }),
              "couldn't append to log.txt: refusing a symbolic link");
    EXPECT_FALSE(Files::writeNew(dir / "log.txt", "bytes"));
    EXPECT_EQ(readAll(dir / "elsewhere"), "someone else's");
    EXPECT_EQ(modeOf(dir / "elsewhere"), modeBefore);

    // Following a dangling link would create its target wherever it points.
    EXPECT_THROW(Files::createPrivate(dir / "dangling.txt"), FileError);
    EXPECT_THROW(Files::appendLine(dir / "dangling.txt", "line"), FileError);
    EXPECT_FALSE(Files::writeNew(dir / "dangling.txt", "bytes"));
    EXPECT_FALSE(fs::exists(dir / "nowhere"));

    // A whole document replaces the link itself.
    Files::replaceAtomically(dir / "log.txt", "new");
    EXPECT_FALSE(fs::is_symlink(dir / "log.txt"));
    EXPECT_EQ(readAll(dir / "log.txt"), "new");
    EXPECT_EQ(readAll(dir / "elsewhere"), "someone else's");

    fs::create_directory(dir / "folder");
    EXPECT_THROW(Files::appendLine(dir / "folder", "line"), FileError);
    // A FIFO would block an open for writing until some reader came along.
    ::mkfifo((dir / "fifo").c_str(), 0600);
    EXPECT_THROW(Files::createPrivate(dir / "fifo"), FileError);
    EXPECT_EQ(errorOf([&] { Files::appendLine(dir / "fifo", "line"); }),
              "couldn't append to fifo: not a regular file");
}

TEST(Files, AppendsAddWholeLines) {
    struct Row {
        std::optional<std::string> before; // nothing: no file yet
        std::string lines;
        std::string header;
        std::string after;
    } rows[] = {
        {std::nullopt, "first", "", "first\n"},
        {std::nullopt, "first\n", "", "first\n"},
        {std::nullopt, "row", "timestamp,app", "timestamp,app\nrow\n"},
        {"", "row", "timestamp,app\n", "timestamp,app\nrow\n"},
        {"timestamp,app\nrow\n", "row 2", "timestamp,app", "timestamp,app\nrow\nrow 2\n"},
        {"one\n", "two\nthree\n", "", "one\ntwo\nthree\n"},
        {"one\ncut sho", "two", "", "one\ncut sho\ntwo\n"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        if (row.before) {
            writeAll(dir / "file", *row.before);
        }
        Files::appendLine(dir / "file", row.lines, 0600, row.header);
        EXPECT_EQ(readAll(dir / "file"), row.after) << row.before.value_or("(none)");
    }
    TempDir dir;
    EXPECT_EQ(errorOf([&] { Files::appendLine(dir / "missing/runs.csv", "row"); }),
              "couldn't append to runs.csv: No such file or directory");
}

TEST(Files, AFullDiskLeavesNoHalfLineAndNoHalfDocument) {
    TempDir dir;
    writeAll(dir / "log.txt", "first line\n");
    writeAll(dir / "notes.json", "[\"old notes\"]");
    std::string writtenBefore;
    {
        const FileSizeLimit limit(16); // room for five more bytes of the log, not a whole line
        EXPECT_EQ(errorOf([&] { Files::appendLine(dir / "log.txt", "second line"); }),
                  "couldn't append to log.txt: File too large");
        EXPECT_EQ(
            errorOf([&] { Files::replaceAtomically(dir / "notes.json", std::string(64, 'x')); }),
            "couldn't save notes.json: File too large");
        EXPECT_EQ(errorOf([&] { Files::writeNew(dir / "backup", std::string(64, 'x')); }),
                  "couldn't write backup: File too large");

        // writeAll goes on after the short first write and then reports the refusal.
        const Files::Descriptor fd = Files::createPrivate(dir / "raw");
        errno = 0;
        EXPECT_FALSE(Files::writeAll(fd.get(), std::string(40, 'r')));
        EXPECT_EQ(errno, EFBIG);
        writtenBefore = readAll(dir / "raw");
    }
    EXPECT_EQ(writtenBefore, std::string(16, 'r'));
    EXPECT_EQ(readAll(dir / "log.txt"), "first line\n");
    EXPECT_EQ(readAll(dir / "notes.json"), "[\"old notes\"]");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"log.txt", "notes.json", "raw"}))
        << "no temporary file and no partial backup";

    Files::appendLine(dir / "log.txt", "second line");
    EXPECT_EQ(readAll(dir / "log.txt"), "first line\nsecond line\n");
}

// A document that says what it should be, so a reader can tell a whole one from a torn one.
std::string document(int writer, int round) {
    const std::size_t size = 4096 * static_cast<std::size_t>(1 + round % 16);
    std::string text = std::to_string(writer) + " " + std::to_string(round) + "\n";
    text.append(size, static_cast<char>('a' + writer));
    return text + "\nend\n";
}

bool isWhole(const std::string& text) {
    int writer = -1, round = -1;
    return std::sscanf(text.c_str(), "%d %d", &writer, &round) == 2 && writer >= 0 && writer < 2 &&
           round >= 0 && text == document(writer, round);
}

TEST(Files, TwoWritersReplacingOneFileNeverFailAndAReaderOnlySeesWholeDocuments) {
    TempDir dir;
    const fs::path file = dir / "notes.json";
    Files::replaceAtomically(file, document(0, 0));
    constexpr int rounds = 1000;
    pid_t writers[2];
    for (int writer = 0; writer < 2; ++writer) {
        writers[writer] = ::fork();
        ASSERT_GE(writers[writer], 0);
        if (writers[writer] == 0) {
            for (int round = 0; round < rounds; ++round) {
                try {
                    Files::replaceAtomically(file, document(writer, round));
                } catch (const FileError& error) {
                    std::fprintf(stderr, "writer %d, round %d: %s\n", writer, round, error.what());
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
    }
    // This process is the third one: it reads until both writers are done.
    int running = 2, reads = 0, torn = 0, statuses[2] = {-1, -1};
    while (running > 0) {
        const auto text = Files::readIfPresent(file);
        ++reads;
        if (!text || !isWhole(*text)) {
            ++torn;
        }
        for (int writer = 0; writer < 2; ++writer) {
            if (statuses[writer] == -1 &&
                ::waitpid(writers[writer], &statuses[writer], WNOHANG) > 0) {
                --running;
            }
        }
    }
    for (int status : statuses) {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "a save failed";
    }
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 10);
    EXPECT_TRUE(isWhole(readAll(file)));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"notes.json"});
}

TEST(Files, AppendersTakeTurnsSoEveryLineIsWholeAndTheHeaderComesOnce) {
    TempDir dir;
    const fs::path file = dir / "runs.csv";
    constexpr int lines = 500;
    auto append = [&](char tag) {
        for (int i = 0; i < lines; ++i) {
            std::string text(1, tag);
            text += std::to_string(i);
            text.append(300, tag);
            Files::appendLine(file, text, 0600, "header");
        }
    };
    {
        std::jthread first(append, 'a');
        std::jthread second(append, 'b');
    }
    std::istringstream text(readAll(file));
    std::string line;
    ASSERT_TRUE(std::getline(text, line));
    EXPECT_EQ(line, "header");
    int next[2] = {0, 0};
    while (std::getline(text, line)) {
        ASSERT_FALSE(line.empty());
        const int writer = line.front() - 'a';
        ASSERT_TRUE(writer == 0 || writer == 1) << line.substr(0, 20);
        const std::string expected =
            line.substr(0, 1) + std::to_string(next[writer]++) + std::string(300, line.front());
        ASSERT_EQ(line, expected);
    }
    EXPECT_EQ(next[0], lines);
    EXPECT_EQ(next[1], lines);
}

TEST(Files, TemporaryFilesOfEarlierSavesNeverBlockASaveAndOldOnesAreRemoved) {
    TempDir dir;
    const timespec hourAgo{::time(nullptr) - 3600, 0};
    const timespec times[2] = {hourAgo, hourAgo};
    auto age = [&](const std::string& name) {
        ::utimensat(AT_FDCWD, (dir / name).c_str(), times, AT_SYMLINK_NOFOLLOW);
    };
    writeAll(dir / "notes.json", "[1]");
    writeAll(dir / "notes.json.part", "[\"half"); // the single name older versions used
    writeAll(dir / "notes.json.0badf00d.part", "[\"half");
    age("notes.json.0badf00d.part");
    writeAll(dir / "notes.json.12345678.part", "[\"a save still running");
    writeAll(dir / "words.txt.0badf00d.part", "another file's");
    age("words.txt.0badf00d.part");
    fs::create_directories(dir / "notes.json.deadbeef.part/blocked");
    age("notes.json.deadbeef.part");

    Files::replaceAtomically(dir / "notes.json", "[2]");
    EXPECT_EQ(readAll(dir / "notes.json"), "[2]");
    EXPECT_EQ(namesIn(dir.path()),
              (std::vector<std::string>{"notes.json", "notes.json.12345678.part",
                                        "notes.json.deadbeef.part", "words.txt.0badf00d.part"}));
}

TEST(Files, ASaveIntoTheWorkingFolderFlushesThatFolder) {
    TempDir dir;
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    Files::replaceAtomically("doc.json", "{}");
    fs::current_path(before);
    EXPECT_EQ(readAll(dir / "doc.json"), "{}");
}

TEST(Files, ADescriptorClosesOnceWhereverItIsMoved) {
    TempDir dir;
    Files::Descriptor first = Files::createPrivate(dir / "file");
    const int fd = first.get();
    Files::Descriptor second = std::move(first);
    EXPECT_FALSE(first.isOpen());
    EXPECT_EQ(second.get(), fd);
    {
        Files::Descriptor third;
        third = std::move(second);
        EXPECT_TRUE(third.close());
        EXPECT_FALSE(third.isOpen());
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "closed by close(), and not a second time";
}

TEST(Files, OurFoldersArePrivateWhateverTheUmaskAndAnOldLooseOneIsTightened) {
    for (const mode_t mask : {mode_t(0), mode_t(022), mode_t(0777)}) {
        TempDir dir;
        {
            const Umask umask(mask);
            Files::createPrivateFolder(dir / "data/org.example/recordings");
            Files::replaceAtomically(dir / "docs/new/notes.json", "[]");
        }
        for (const char* folder :
             {"data", "data/org.example", "data/org.example/recordings", "docs", "docs/new"}) {
            EXPECT_EQ(modeOf(dir / folder), 0700u)
                << folder << " under umask 0" << std::oct << mask;
        }
    }

    TempDir dir;
    std::filesystem::create_directories(dir / "shared");
    std::filesystem::permissions(dir / "shared", std::filesystem::perms(0777));
    std::filesystem::create_directories(dir / "shared/ours");
    std::filesystem::permissions(dir / "shared/ours", std::filesystem::perms(0777));
    Files::createPrivateFolder(dir / "shared/ours");
    EXPECT_EQ(modeOf(dir / "shared/ours"), 0700u) << "another user could replace our files";
    EXPECT_EQ(modeOf(dir / "shared"), 0777u) << "a folder above ours is not ours to change";
    Files::replaceAtomically(dir / "shared/other.json", "{}");
    EXPECT_EQ(modeOf(dir / "shared"), 0777u);

    writeAll(dir / "file", "not a folder");
    EXPECT_THROW(Files::createPrivateFolder(dir / "file"), FileError);
    std::filesystem::create_directory_symlink(dir / "shared", dir / "link");
    EXPECT_THROW(Files::createPrivateFolder(dir / "link"), FileError)
        << "a link is no folder of ours";
}

} // namespace

namespace {

// What a read of one of our files meets, and what it answers: never a hang, never endless
// memory, never the contents of something that is not our plain file.
TEST(FilesReading, OnlyOurPlainFilesAreReadAndOnlyUpToTheLimit) {
    TempDir dir;
    writeAll(dir / "notes.json", "[]");
    writeAll(dir / "big.json", std::string(2048, 'x'));
    ASSERT_EQ(::mkfifo((dir / "fifo.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.json");
    fs::create_symlink(dir / "notes.json", dir / "linked.json");
    fs::create_directory(dir / "folder.json");
    const struct {
        const char* name;
        Files::Links links;
        const char* answer;
    } rows[] = {
        {"notes.json", Files::Links::refuse, "[]"},
        {"missing.json", Files::Links::refuse, "nothing"},
        {"fifo.json", Files::Links::refuse, "couldn't read fifo.json: not a regular file"},
        {"zero.json", Files::Links::refuse, "couldn't read zero.json: refusing a symbolic link"},
        {"zero.json", Files::Links::follow, "couldn't read zero.json: not a regular file"},
        {"linked.json", Files::Links::refuse,
         "couldn't read linked.json: refusing a symbolic link"},
        {"linked.json", Files::Links::follow, "[]"}, // another program's file may be a link
        {"folder.json", Files::Links::refuse, "couldn't read folder.json: not a regular file"},
        {"big.json", Files::Links::refuse, "couldn't read big.json: too large"},
    };
    for (const auto& row : rows) {
        std::string answer;
        const std::string error = errorOf([&] {
            const auto bytes = Files::readIfPresent(dir / row.name, 0, row.links, 1024);
            answer = bytes.value_or("nothing");
        });
        EXPECT_EQ(error == "no error" ? answer : error, row.answer) << row.name;
    }
}

TEST(FilesSystemCalls, AWholeWriteGoesOnAfterInterruptionsAndShortWritesUntilARealError) {
    // One call of the stand-in write: takes up to `count` bytes, or fails with `error`.
    struct Step {
        std::size_t count = 0;
        int error = 0;
    };
    const std::string bytes = "0123456789";
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string arrived;
        int error; // 0: the write succeeds
    } rows[] = {
        {"at once", {{100}}, bytes, 0},
        {"interrupted twice, then 3 bytes at a time",
         {{0, EINTR}, {0, EINTR}, {3}, {3}, {3}, {3}},
         bytes,
         0},
        {"interrupted between short writes", {{4}, {0, EINTR}, {4}, {0, EINTR}, {2}}, bytes, 0},
        {"the disk fills midway", {{3}, {0, EINTR}, {0, ENOSPC}}, "012", ENOSPC},
        {"a full pipe is no interruption", {{0, EAGAIN}}, "", EAGAIN},
        {"nothing taken and no reason given", {{3}, {0}}, "012", EIO},
    };
    for (const auto& row : rows) {
        std::size_t calls = 0;
        std::string arrived;
        // Throws, failing the test, when called past its steps.
        const auto write = [&](int fd, const void* data, std::size_t size) -> ssize_t {
            EXPECT_EQ(fd, 7);
            const Step step = row.steps.at(calls++);
            if (step.error != 0) {
                errno = step.error;
                return -1;
            }
            const std::size_t count = std::min(size, step.count);
            arrived.append(static_cast<const char*>(data), count);
            return static_cast<ssize_t>(count);
        };
        errno = 0;
        const bool ok = Files::writeAll(7, bytes, write);
        const int error = errno;
        EXPECT_EQ(ok ? 0 : error, row.error) << row.name;
        EXPECT_EQ(arrived, row.arrived) << row.name;
        EXPECT_EQ(calls, row.steps.size()) << row.name;
    }
}

TEST(FilesSystemCalls, AWaitLastsUntilItsDeadlineWhateverSignalsArrive) {
    using namespace std::chrono_literals;
    using Clock = std::chrono::steady_clock;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const Files::Descriptor in(ends[0]);
    const Files::Descriptor out(ends[1]);
    // Without SA_RESTART, so every tick interrupts the wait.
    struct sigaction tick {};
    struct sigaction before {};
    tick.sa_handler = [](int) {};
    ASSERT_EQ(::sigaction(SIGALRM, &tick, &before), 0);
    itimerval every10ms{{0, 10000}, {0, 10000}};
    ::setitimer(ITIMER_REAL, &every10ms, nullptr);

    pollfd ready{in.get(), POLLIN, 0};
    const auto start = Clock::now();
    EXPECT_EQ(Files::pollUntil(&ready, 1, start + 100ms), 0);
    EXPECT_GE(Clock::now() - start, 100ms);
    ASSERT_TRUE(Files::writeAll(out.get(), "x"));
    EXPECT_EQ(Files::pollUntil(&ready, 1, Clock::now() + 5s), 1);
    // A deadline already passed is not waited for, even with something to read.
    EXPECT_EQ(Files::pollUntil(&ready, 1, Clock::now() - 1ms), 0);

    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &before, nullptr);
}

} // namespace
