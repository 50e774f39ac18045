// Timing the engine per model: on the real whisper-server and quantize tool with the tiny
// shape, and on the scripted stand-in for failures and time limits.
#include "AudioTools.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "speech/EngineMeasurement.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using SpeechModels::Model;

// A catalog entry for `file` of the tiny shape (or `shape`).
Model tiny(std::string_view file, std::string_view shape = "tiny") {
    return {file, 0, "", "Tiny", "", true, shape, "q8_0"};
}

class EngineMeasurementTest : public testing::Test {
  protected:
    void SetUp() override { ::setenv("GGML_NO_BACKTRACE", "1", 1); }

    EngineMeasurement::Setup setup(const std::string& program, const fs::path& quantize) const {
        EngineMeasurement::Setup setup;
        setup.engine =
            WhisperServer::Setup::standard(Paths("/opt/parlwick/bin/parlwick", std::nullopt,
                                                 Paths::Homes::under(dir.path()), dir.path()));
        setup.engine.program = program;
        setup.quantizeTool = quantize;
        setup.folder = dir / "cache" / "measure";
        return setup;
    }

    // A quantize tool that copies the model as it is.
    fs::path copyingTool() const {
        const fs::path tool = dir / "copy-quantize";
        writeAll(tool, "#!/bin/sh\ncp \"$1\" \"$2\"\n");
        fs::permissions(tool, fs::perms::owner_all);
        return tool;
    }

    bool scratchIsEmpty(const EngineMeasurement::Setup& s) const {
        return !fs::exists(s.folder) || fs::is_empty(s.folder);
    }

    TempDir dir;
    std::atomic<bool> stop{false};
};

TEST_F(EngineMeasurementTest, TimesEachModelOnTheRealEngineAndLeavesNothingBehind) {
    const std::string server = findProgram("whisper-server");
    if (server.empty()) {
        GTEST_SKIP() << "whisper-server is not installed (run ./scripts/setup.sh)";
    }
    // Our build puts the quantize tool beside the server, where the app looks for it.
    const fs::path quantize = EngineMeasurement::quantizeToolBeside("whisper-server");
    ASSERT_FALSE(quantize.empty()) << "no whisper-quantize beside " << server;
    EXPECT_EQ(EngineMeasurement::quantizeToolBeside(server), quantize);
    EXPECT_EQ(EngineMeasurement::quantizeToolBeside("/nonexistent/whisper-server"), fs::path());
    const auto s = setup(server, quantize);
    // The tiny shape cannot be quantised; base English is the smallest real one.
    const std::vector<Model> models{tiny("odd.bin", "huge"), tiny("base.bin", "base.en")};
    LogCapture log;
    const auto timings = EngineMeasurement::run(s, models, stop);

    ASSERT_EQ(timings.size(), 2u);
    EXPECT_EQ(timings[0].file, "odd.bin");
    EXPECT_FALSE(timings[0].seconds);
    EXPECT_TRUE(log.contains("measuring odd.bin failed: no shape named huge")) << log.text();
    EXPECT_EQ(timings[1].file, "base.bin");
    ASSERT_TRUE(timings[1].seconds) << log.text();
    EXPECT_GT(*timings[1].seconds, 0);
    EXPECT_LT(*timings[1].seconds, 20);
    EXPECT_TRUE(log.contains("measured base.bin: ")) << log.text();
    EXPECT_TRUE(scratchIsEmpty(s));
}

TEST_F(EngineMeasurementTest, AFailingOrSlowEngineLeavesTheModelUnmeasured) {
    if (::access("/usr/bin/python3", X_OK) != 0) {
        GTEST_SKIP() << "/usr/bin/python3 is not installed; the stand-in server needs it";
    }
    const struct {
        const char* mode;
        const char* delay;
        const char* logged;
    } cases[] = {
        {"die", "0", "measuring first.bin failed: "},
        {"error", "0", "measuring first.bin failed: "},
        // Each answer takes 2 s: the two requests run past the 3 s limit together.
        {"slow", "2", "measuring first.bin took longer than 3 s"},
    };
    for (const auto& c : cases) {
        ::setenv("STAND_IN_MODE", c.mode, 1);
        ::setenv("STAND_IN_DELAY", c.delay, 1);
        auto s = setup(STAND_IN_SERVER, copyingTool());
        s.limit = std::chrono::seconds(3);
        LogCapture log;
        const auto timings = EngineMeasurement::run(s, std::vector<Model>{tiny("first.bin")}, stop);
        ASSERT_EQ(timings.size(), 1u);
        EXPECT_FALSE(timings[0].seconds) << c.mode;
        EXPECT_TRUE(log.contains(c.logged)) << c.mode << ": " << log.text();
        EXPECT_TRUE(scratchIsEmpty(s)) << c.mode;
    }
    ::unsetenv("STAND_IN_MODE");
    ::unsetenv("STAND_IN_DELAY");
}

TEST_F(EngineMeasurementTest, AStopLeavesEveryModelUnmeasured) {
    stop = true;
    const auto timings =
        EngineMeasurement::run(setup("/nonexistent/whisper-server", "/nonexistent/quantize"),
                               std::vector<Model>{tiny("a.bin"), tiny("b.bin")}, stop);
    ASSERT_EQ(timings.size(), 2u);
    EXPECT_FALSE(timings[0].seconds || timings[1].seconds);
}

} // namespace
