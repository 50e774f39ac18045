#include "TestSupport.h"
#include "platform/AppError.h"
#include "platform/Subprocess.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string failureOf(const std::vector<std::string>& arguments, double timeout = 10) {
    try {
        run(arguments, std::nullopt, std::nullopt, timeout);
    } catch (const AppError& error) {
        EXPECT_EQ(error.kind(), AppError::Kind::process);
        return error.description();
    }
    return "no error";
}

// Puts a folder in front of the search path for one test.
class SearchPathFirst {
  public:
    explicit SearchPathFirst(const fs::path& folder) {
        if (const char* path = std::getenv("PATH")) {
            saved_ = path;
        }
        ::setenv("PATH", (folder.string() + ":" + saved_.value_or("/usr/bin:/bin")).c_str(), 1);
    }
    ~SearchPathFirst() {
        if (saved_) {
            ::setenv("PATH", saved_->c_str(), 1);
        } else {
            ::unsetenv("PATH");
        }
    }
    SearchPathFirst(const SearchPathFirst&) = delete;
    SearchPathFirst& operator=(const SearchPathFirst&) = delete;

  private:
    std::optional<std::string> saved_;
};

void writeScript(const fs::path& file, const std::string& body) {
    writeAll(file, "#!/bin/sh\n" + body + "\n");
    ::chmod(file.c_str(), 0755);
}

TEST(Run, ReturnsTrimmedOutputFromTheSearchPath) {
    EXPECT_EQ(run({"printf", "  hello\\nworld \\n\\n"}), "hello\nworld");
    EXPECT_EQ(run({"true"}), "");
}

TEST(Run, FeedsInputAndRunsInTheGivenFolder) {
    TempDir dir;
    EXPECT_EQ(run({"tr", "a-z", "A-Z"}, std::string("shout this")), "SHOUT THIS");
    EXPECT_EQ(run({"pwd"}, std::nullopt, dir.path()), dir.path().string());
    // Megabytes of input to a child that reads it all.
    const std::string big(3 * 1024 * 1024, 'x');
    EXPECT_EQ(run({"wc", "-c"}, big), std::to_string(big.size()));
}

TEST(Run, InvalidOutputBytesAreReplaced) {
    EXPECT_EQ(run({"printf", "a\\377b"}), "a\uFFFD"
                                          "b");
}

TEST(Run, ANonZeroExitNamesTheToolTheStatusAndTheErrorBytes) {
    EXPECT_EQ(failureOf({"sh", "-c", "printf '%020d' 0 >&2; exit 3"}),
              "process: sh exited 3 (20 bytes of errors)");
    EXPECT_EQ(failureOf({"false"}), "process: false exited 1 (0 bytes of errors)");
    EXPECT_EQ(failureOf({"no-such-tool-anywhere"}),
              "process: no-such-tool-anywhere could not be started (no such file or directory)");
    TempDir dir;
    writeAll(dir / "plain", "not a program");
    EXPECT_EQ(failureOf({(dir / "plain").string()}),
              "process: " + (dir / "plain").string() + " could not be started (permission denied)");
}

TEST(Run, NoArgumentsAreNamedCommand) {
    EXPECT_EQ(failureOf({}), "process: command could not be started (invalid argument)");
}

TEST(Run, TheFirstArgumentIsAlwaysTheProgram) {
    // Names that a launcher taking options and assignments would have read as its own.
    TempDir bin;
    writeScript(bin / "say=hi", "echo \"say=hi ran with $*\"");
    writeScript(bin / "--version", "echo \"--version ran with $*\"");
    writeScript(bin / "-i", "echo \"-i ran with $*\"");
    const SearchPathFirst path(bin.path());
    EXPECT_EQ(run({"say=hi", "-u", "x=y"}), "say=hi ran with -u x=y");
    EXPECT_EQ(run({"--version"}), "--version ran with");
    EXPECT_EQ(run({"-i", "true"}), "-i ran with true");
    EXPECT_EQ(run({(bin / "say=hi").string(), "by path"}), "say=hi ran with by path");
    EXPECT_EQ(run({"./say=hi", "in its folder"}, std::nullopt, bin.path()),
              "say=hi ran with in its folder");
}

TEST(Run, ATimeOutTerminatesTheChildAndCutsTheFraction) {
    TempDir dir;
    const auto marker = dir / "still-running";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf({"sh", "-c", "sleep 3; touch '" + marker.string() + "'"}, 1.9),
              "process: sh timed out after 1s");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ::sleep(2);
    EXPECT_FALSE(std::filesystem::exists(marker)) << "the child outlived its time-out";
}

TEST(Run, AChildIgnoringTerminateIsStillEnded) {
    EXPECT_EQ(failureOf({"sh", "-c", "trap '' TERM; while :; do sleep 0.1; done"}, 0.5),
              "process: sh timed out after 0s");
}

TEST(Run, ATimeOutHoldsWhenTheChildClosesItsOutput) {
    const auto start = Clock::now();
    EXPECT_EQ(failureOf({"sh", "-c", "exec >&- 2>&-; sleep 8"}, 2),
              "process: sh timed out after 2s");
    EXPECT_LT(Clock::now() - start, milliseconds(4500));
}

TEST(Run, ATimeOutEndsTheWholeGroupPolitelyFirst) {
    TempDir dir;
    const std::string termed = (dir / "termed").string();
    const std::string late = (dir / "late").string();
    // One member cleans up slowly on SIGTERM, one ignores it, and the child itself waits.
    const std::string script = "(trap 'sleep 0.5; touch \"" + termed +
                               "\"; exit 0' TERM; sleep 8) & " +
                               "(trap '' TERM; sleep 4; touch \"" + late + "\") & sleep 8";
    const auto start = Clock::now();
    EXPECT_EQ(failureOf({"sh", "-c", script}, 0.5), "process: sh timed out after 0s");
    const auto took = Clock::now() - start;
    EXPECT_GE(took, milliseconds(2400)) << "SIGKILL came before the two seconds of grace";
    EXPECT_LT(took, milliseconds(3900));
    EXPECT_TRUE(fs::exists(termed)) << "the group never got SIGTERM";
    std::this_thread::sleep_until(start + milliseconds(5000));
    EXPECT_FALSE(fs::exists(late)) << "a member ignoring SIGTERM outlived the time-out";
}

TEST(Run, ABackgroundMemberLeftRunningDoesNotTurnSuccessIntoFailure) {
    TempDir dir;
    const std::string late = (dir / "late").string();
    const auto start = Clock::now();
    // The member holds the output pipes open; the child's own output is all kept.
    EXPECT_EQ(run({"sh", "-c",
                   "(sleep 1; touch \"" + late +
                       "\") & sleep 8 & "
                       "head -c 200000 /dev/zero | tr '\\0' a; echo done"},
                  std::nullopt, std::nullopt, 2),
              std::string(200000, 'a') + "done");
    EXPECT_LT(Clock::now() - start, milliseconds(2000));
    std::this_thread::sleep_until(start + milliseconds(2000));
    EXPECT_FALSE(fs::exists(late)) << "what the child left running outlived it";
}

TEST(Run, FloodsOnBothStreamsNeverDeadlock) {
    // 8 MB on standard error before anything on standard output: a reader that drains only
    // one pipe at a time would block the child forever.
    const std::string out =
        run({"sh", "-c", "head -c 8000000 /dev/zero >&2; head -c 5000000 /dev/zero | tr '\\0' a"},
            std::nullopt, std::nullopt, 60);
    EXPECT_EQ(out.size(), 5000000u);
}

TEST(AppError, DescriptionIsTheCaseNameAndText) {
    EXPECT_EQ(AppError::audio("no usable microphone").description(), "audio: no usable microphone");
    EXPECT_EQ(AppError::process("whisper did not start").description(),
              "process: whisper did not start");
    EXPECT_EQ(AppError::process("x").text(), "x");
}

} // namespace
