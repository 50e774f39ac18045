#include "TestSupport.h"
#include "Text.h"
#include "platform/Log.h"

#include <array>
#include <gtest/gtest.h>
#include <thread>

namespace {

// "t2 line 17", built by appending (GCC 12 warns falsely about chained additions).
std::string lineText(int thread, int index) {
    std::string text = "t";
    text += std::to_string(thread);
    text += " line ";
    text += std::to_string(index);
    return text;
}

TEST(LogFile, AMissingFolderAndFileAreCreatedPrivate) {
    TempDir dir;
    const auto file = dir / "support/log.txt";
    Log::appendLine(file, "2025-01-01T00:00:00Z started\n");
    EXPECT_EQ(readAll(file), "2025-01-01T00:00:00Z started\n");
    EXPECT_EQ(modeOf(file), 0600u);
}

TEST(LogFile, AFileOfExactlyTheLimitIsAppendedTo) {
    TempDir dir;
    const auto file = dir / "log.txt";
    writeAll(file, std::string(499'999, 'a') + "\n");
    Log::appendLine(file, "next\n");
    EXPECT_EQ(std::filesystem::file_size(file), 500'005u);
}

TEST(LogFile, AFileOneBytePastTheLimitStartsAfresh) {
    TempDir dir;
    const auto file = dir / "log.txt";
    writeAll(file, std::string(500'001, 'a'));
    Log::appendLine(file, "next\n");
    EXPECT_EQ(readAll(file), "next\n");
    EXPECT_EQ(modeOf(file), 0600u);
}

TEST(LogFile, AnEmptyFileIsRecreatedPrivate) {
    TempDir dir;
    const auto file = dir / "log.txt";
    writeAll(file, "");
    ::chmod(file.c_str(), 0644);
    Log::appendLine(file, "line\n");
    EXPECT_EQ(readAll(file), "line\n");
    EXPECT_EQ(modeOf(file), 0600u);
}

TEST(LogFile, AnUnwritablePlaceDropsTheLineQuietly) {
    TempDir dir;
    writeAll(dir / "blocker", "not a folder");
    EXPECT_NO_THROW(Log::appendLine(dir / "blocker/log.txt", "lost\n"));
    EXPECT_EQ(readAll(dir / "blocker"), "not a folder");
}

TEST(Log, WithoutAFileOnlyStandardErrorGetsTheLine) {
    testing::internal::CaptureStderr();
    log("no log made yet");
    {
        TempDir dir;
        Log appLog("Parlwick", std::nullopt);
        log("could not start recording: audio: no usable microphone");
        appLog.flush();
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
    log("and again without");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Dictation] no log made yet\n"
              "[Parlwick] could not start recording: audio: no usable microphone\n"
              "[Dictation] and again without\n");
}

TEST(Log, ALongMessageIsCutToOneShortLineAndTheFileKeepsWhatItHad) {
    TempDir dir;
    const auto file = dir / "log.txt";
    testing::internal::CaptureStderr();
    {
        Log appLog("Parlwick", file);
        log("before");
        // Four-byte characters: the cut must not split one.
        std::string huge = "history: ";
        for (int i = 0; i < (4 << 20); ++i) {
            huge += "\xF0\x9F\x8E\xA4";
        }
        log(huge);
        log("after");
        appLog.flush();
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    const std::string text = readAll(file);
    EXPECT_LT(text.size(), 1200u);
    EXPECT_NE(text.find("before\n"), std::string::npos) << "the earlier line stays";
    EXPECT_NE(text.find("after\n"), std::string::npos);
    const auto cut = text.find(" [cut]\n");
    ASSERT_NE(cut, std::string::npos);
    const std::string line =
        text.substr(text.rfind('\n', cut) + 1, cut - text.rfind('\n', cut) - 1);
    EXPECT_EQ(Text::validUTF8(line), line) << "cut between characters";
    EXPECT_LT(errors.size(), 1200u);
}

TEST(Log, LinesFromManyThreadsAreTimeStampedWholeAndInCallOrder) {
    TempDir dir;
    const auto file = dir / "support/log.txt";
    testing::internal::CaptureStderr();
    {
        Log appLog("Parlwick", file);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i) {
                    log(lineText(t, i));
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    } // the log writes what is queued as it goes
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find("[Parlwick] t3 line 199\n"), std::string::npos);
    std::istringstream in(readAll(file));
    int lines = 0;
    std::array<int, 4> next{};
    for (std::string line; std::getline(in, line); ++lines) {
        // "2026-12-08T18:01:58Z t2 line 17"
        ASSERT_GT(line.size(), 21u);
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line[10], 'T');
        EXPECT_EQ(line.substr(19, 2), "Z ");
        const std::string message = line.substr(21);
        const int t = message[1] - '0';
        ASSERT_EQ(message, lineText(t, next[t]));
        ++next[t];
    }
    EXPECT_EQ(lines, 800);
    EXPECT_EQ(modeOf(file), 0600u);
}

} // namespace
