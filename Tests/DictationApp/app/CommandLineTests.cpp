// The built executable, run as a user runs it: from the build tree (terminal mode) and from an
// installed tree (app mode).
#include "Options.h"
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "Text.h"

#include <gtest/gtest.h>

namespace {

class CommandLine : public testing::Test {
  protected:
    ProcessResult parlwick(const std::vector<std::string>& arguments,
                           const std::string& executable = PARLWICK_EXECUTABLE) {
        std::vector<std::string> command{executable};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return runProcess(command,
                          {{"XDG_DATA_HOME", data.path().string()},
                           {"XDG_CONFIG_HOME", (data / "config").string()}},
                          work.path().string());
    }
    TempDir data, work;
};

TEST_F(CommandLine, HelpPrintsTheUsageTextAndSucceeds) {
    for (const char* flag : {"--help", "-h"}) {
        const auto result = parlwick({"--raw", flag});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, Options::usage() + "\n");
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(CommandLine, BadArgumentsPrintTheErrorABlankLineAndTheUsageWithStatus2) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--lang"}, "--lang expects a value after it"},
        {{"--lang", "-v"}, "--lang expects a value after it"},
        {{"--key", "FN"},
         "FN is not a key this app can use; pick one of fn, right-option, right-command or "
         "right-control"},
        {{"--help", "--what"}, "--what is not a recognised option"},
    };
    for (const auto& [arguments, message] : rows) {
        const auto result = parlwick(arguments);
        EXPECT_EQ(result.status, 2) << message;
        EXPECT_EQ(result.out, "") << "help must not be printed";
        EXPECT_EQ(result.err, "[Dictation] " + message + "\n\n" + Options::usage() + "\n");
    }
}

TEST_F(CommandLine, ATerminalRunWithoutModelsNamesTheFolderAndFails) {
    const auto result = parlwick({});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "[Dictation] models missing in " + (work / "models").string() +
                              ". Run ./scripts/setup.sh from the repo folder.\n");
    EXPECT_FALSE(std::filesystem::exists(data / "org.parlwick.Parlwick/log.txt"))
        << "terminal mode logs to standard error only";
}

TEST_F(CommandLine, OneMissingModelOfTwoIsStillMissing) {
    writeAll(work / "models/ggml-silero-v5.1.2.bin", "vad");
    EXPECT_EQ(parlwick({}).status, 1);
    std::filesystem::remove(work / "models/ggml-silero-v5.1.2.bin");
    writeAll(work / "models/ggml-large-v3-turbo-q5_0.bin", "asr");
    EXPECT_EQ(parlwick({}).status, 1);
}

// Installs the build into a private prefix the way a package would.
class InstalledApp : public CommandLine {
  protected:
    void SetUp() override {
        const auto result = runProcess({"/usr/bin/env", "cmake", "--install", PARLWICK_BUILD_DIR,
                                        "--prefix", prefix.path().string()});
        ASSERT_EQ(result.status, 0) << result.out << result.err;
    }
    TempDir prefix;
};

TEST_F(InstalledApp, RunsInAppModeWithItsNameAndALogFile) {
    const auto executable = (prefix / "bin/parlwick").string();
    const auto result = parlwick({"--bogus"}, executable);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err.rfind("[Parlwick] --bogus is not a recognised option\n\n", 0), 0u)
        << result.err;
    const auto logFile = data / "org.parlwick.Parlwick/log.txt";
    const std::string logged = readAll(logFile);
    EXPECT_NE(logged.find("Z --bogus is not a recognised option\n"), std::string::npos) << logged;
    EXPECT_EQ(modeOf(logFile), 0600u);
}

TEST_F(InstalledApp, FindsHelpersInItsLibexecFolderWhenExecutable) {
    // The probe stands in for the app binary inside the same installed tree.
    std::filesystem::copy_file(APP_PROBE, prefix / "bin/app-probe");
    writeAll(prefix / "libexec/parlwick/whisper-server", "#!/bin/sh\n");
    ::chmod((prefix / "libexec/parlwick/whisper-server").c_str(), 0755);
    // The install may have put the real tool there; this one must not be executable.
    writeAll(prefix / "libexec/parlwick/whisper-vad-speech-segments", "not executable");
    ::chmod((prefix / "libexec/parlwick/whisper-vad-speech-segments").c_str(), 0644);
    const auto result = parlwick({"paths", "whisper-server", "whisper-vad-speech-segments", "sox"},
                                 (prefix / "bin/app-probe").string());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("isApp=1\n"), std::string::npos);
    EXPECT_NE(result.out.find("appName=Parlwick\n"), std::string::npos);
    EXPECT_NE(result.out.find("models=" + (data / "org.parlwick.Parlwick/models").string()),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("tool whisper-server=" +
                              (prefix / "libexec/parlwick/whisper-server").string() + "\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("tool whisper-vad-speech-segments=whisper-vad-speech-segments\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("tool sox=sox\n"), std::string::npos);
}

TEST_F(InstalledApp, CarriesTheSpeechToolsFoundAtConfigureTime) {
    for (const char* name : {"whisper-server", "whisper-vad-speech-segments"}) {
        const auto onPath = runProcess({"/bin/sh", "-c", std::string("command -v ") + name});
        if (onPath.status != 0) {
            GTEST_SKIP() << name << " is not installed (run ./scripts/setup.sh)";
        }
        const auto helper = prefix / "libexec/parlwick" / name;
        EXPECT_EQ(readAll(helper), readAll(Text::trimmed(onPath.out))) << name;
        EXPECT_EQ(modeOf(helper) & 0111, 0111u) << name;
    }
}

} // namespace
