#include "ProcessRunner.h"
#include "TestSupport.h"
#include "housekeeping/CrashHandler.h"

#include <csignal>
#include <gtest/gtest.h>
#include <regex>

namespace fs = std::filesystem;

namespace {

class CrashHandlerTest : public testing::Test {
  protected:
    // Crashes the probe as told; the report it left, or nothing.
    std::optional<fs::path> crash(const std::string& how, int expectedSignal) {
        // The sanitizer's own handlers step aside, as a release build has none.
        const auto result =
            runProcess({CRASH_PROBE, crashes.string(), how},
                       {{"ASAN_OPTIONS", "handle_segv=0:handle_abort=0:allow_user_segv_handler=1"},
                        {"UBSAN_OPTIONS", "handle_segv=0"}});
        EXPECT_EQ(result.status, 128 + expectedSignal) << result.err;
        std::optional<fs::path> report;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(crashes, error)) {
            report = entry.path();
        }
        return report;
    }

    TempDir root;
    const fs::path crashes = root / "state" / "crashes";
};

TEST_F(CrashHandlerTest, ASegmentationFaultLeavesAPrivateReportNamingTheFunction) {
    const auto report = crash("segv", SIGSEGV);
    ASSERT_TRUE(report);
    EXPECT_TRUE(std::regex_match(report->filename().string(),
                                 std::regex(R"(Parlwick-\d{4}-\d\d-\d\d-\d{6}\.ips)")))
        << *report;
    EXPECT_EQ(modeOf(*report), 0600u);
    EXPECT_EQ(modeOf(crashes), 0700u);
    const std::string text = readAll(*report);
    EXPECT_NE(text.find("Process: Parlwick\nVersion: 9.9\nSignal: 11 (SIGSEGV)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Fault address: 0x10\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(Time: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC)")));
    EXPECT_NE(text.find("Thread: "), std::string::npos);
    EXPECT_NE(text.find("parlwickCrashHere"), std::string::npos) << text;
    EXPECT_NE(text.find("Loaded libraries:\n"), std::string::npos);
    EXPECT_NE(text.find("libc.so"), std::string::npos);
}

TEST_F(CrashHandlerTest, AnAbortAndAnUncaughtExceptionEachLeaveOneReport) {
    auto report = crash("abort", SIGABRT);
    ASSERT_TRUE(report);
    std::string text = readAll(*report);
    EXPECT_NE(text.find("Signal: 6 (SIGABRT)"), std::string::npos) << text;
    EXPECT_NE(text.find("parlwickCrashHere"), std::string::npos) << text;
    fs::remove(*report);

    report = crash("exception", SIGABRT);
    ASSERT_TRUE(report);
    text = readAll(*report);
    EXPECT_NE(text.find("Uncaught exception: std::runtime_error"), std::string::npos) << text;
    EXPECT_EQ(text.find("the user said"), std::string::npos) << "an exception's message";
    EXPECT_EQ(std::distance(fs::directory_iterator(crashes), fs::directory_iterator()), 1);
}

TEST(CrashHandlerPaths, AFolderTooLongToNameAReportInGetsNothingAnywhere) {
    TempDir root;
    // Nested folders whose whole path is over 1 KB, each name short enough for the system.
    fs::path deep = root.path();
    while (deep.string().size() < 1100) {
        deep /= std::string(200, 'd');
    }
    const fs::path crashes = deep / "org.parlwick.Parlwick" / "crashes";
    const auto result =
        runProcess({CRASH_PROBE, crashes.string(), "segv"},
                   {{"ASAN_OPTIONS", "handle_segv=0:handle_abort=0:allow_user_segv_handler=1"},
                    {"UBSAN_OPTIONS", "handle_segv=0"}});
    EXPECT_EQ(result.status, 128 + SIGSEGV) << result.err;
    EXPECT_NE(result.err.find("crash reports: the folder's path is too long"), std::string::npos)
        << result.err;
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
        if (!entry.is_directory()) {
            files.push_back(entry.path().string());
        }
    }
    EXPECT_EQ(files, std::vector<std::string>{}) << "a cut path wrote a report elsewhere";
}

TEST(CrashReportNames, SortByTimeAndFollowTheCalendar) {
    EXPECT_EQ(CrashHandler::reportName("Parlwick", 0), "Parlwick-1970-01-01-000000.ips");
    EXPECT_EQ(CrashHandler::reportName("Parlwick", 1709251199), "Parlwick-2024-02-29-235959.ips");
    EXPECT_EQ(CrashHandler::reportName("Parlwick", 1796774400), "Parlwick-2026-12-09-000000.ips");
    EXPECT_LT(CrashHandler::reportName("P", 1796774399), CrashHandler::reportName("P", 1796774400));
}

} // namespace
