// Two real launches on a private session bus of the test's own.
#include "BackgroundProcess.h"
#include "LogCapture.h"
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "config/Autostart.h"

#include <gtest/gtest.h>

namespace {

// Runs an autostart entry's Exec value the way a desktop does: its quoting is the shell's
// double quoting.
std::vector<std::string> execLine(const std::string& entry) {
    const auto start = entry.find("\nExec=");
    const auto end = entry.find('\n', start + 1);
    return {"/bin/sh", "-c", "exec " + entry.substr(start + 6, end - start - 6)};
}

class SingleInstanceTest : public testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("DISPLAY");
        ::unsetenv(Autostart::marker);
        bus_.emplace(std::vector<std::string>{"dbus-daemon", "--session", "--nofork",
                                              "--address=unix:path=" + socket.string()});
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(socket); }, 10))
            << "dbus-daemon did not start";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket.string()).c_str(), 1);
    }

    static std::string next(RunningProcess& process) {
        return process.readLine().value_or("(end)");
    }

    TempDir folder;
    std::filesystem::path socket = folder / "bus";
    std::optional<BackgroundProcess> bus_;
};

TEST_F(SingleInstanceTest, ASecondLaunchAsksTheFirstToShowItsWindowAndEndsWithStatusZero) {
    RunningProcess first({INSTANCE_PROBE});
    ASSERT_EQ(next(first), "first");
    EXPECT_EQ(next(first), "window");

    for (int launch = 0; launch < 2; ++launch) {
        const ProcessResult second = runProcess({INSTANCE_PROBE});
        EXPECT_EQ(second.status, 0) << second.err;
        EXPECT_EQ(second.out, "handed over\n");
        EXPECT_EQ(next(first), "reopen");
    }

    // Once the first has ended, the next launch is the first again.
    first.kill(SIGTERM);
    first.wait();
    RunningProcess third({INSTANCE_PROBE});
    EXPECT_EQ(next(third), "first");
}

TEST_F(SingleInstanceTest, ALaunchFromTheAutostartEntryShowsNoWindowAndDoesNotRaiseTheRunningOne) {
    // A folder name with characters the entry must quote.
    const auto executable = folder / "Apps \"$HOME\" `x`" / "instance-probe";
    std::filesystem::create_directories(executable.parent_path());
    std::filesystem::copy_file(INSTANCE_PROBE, executable);
    const auto atLogin = execLine(Autostart::entry("Parlwick", executable));

    RunningProcess first(atLogin);
    ASSERT_EQ(next(first), "first");
    EXPECT_EQ(next(first), "no window");

    const ProcessResult again = runProcess(atLogin);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "handed over\n");

    // A launch by hand still raises it.
    const ProcessResult byHand = runProcess({executable.string()});
    EXPECT_EQ(byHand.out, "handed over\n");
    EXPECT_EQ(next(first), "reopen");
}

TEST_F(SingleInstanceTest, WithoutASessionBusTheAppRunsAloneAndSaysSoOnce) {
    bus_.reset();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (folder / "none").string()).c_str(), 1);
    for (int launch = 0; launch < 2; ++launch) {
        LogCapture log; // the probe's standard error is ours
        RunningProcess alone({INSTANCE_PROBE});
        EXPECT_EQ(next(alone), "alone");
        EXPECT_EQ(next(alone), "window");
        alone.kill(SIGTERM);
        alone.wait();
        const std::string text = log.text();
        const std::string line = "single instance: no session bus, running alone";
        const auto first = text.find(line);
        EXPECT_NE(first, std::string::npos) << text;
        EXPECT_EQ(text.find(line, first + 1), std::string::npos) << text;
    }
}

} // namespace
