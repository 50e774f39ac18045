// The speech check with the real voice-activity tool and a generated model that tells silence
// from speech, and its loudness fallback.
#include "AudioTools.h"
#include "SpeechCheck.h"
#include "TestModels.h"
#include "TestSupport.h"
#include "WavEncoder.h"
#include "platform/Subprocess.h"
#include "speech/VoiceActivityCheck.h"

#include <cmath>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
constexpr const char* fallbackLine = "[Dictation] speech check failed, going by loudness: ";

std::vector<float> noise(double seconds, float amplitude) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * 16000));
    std::uint32_t state = 12345;
    for (auto& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = amplitude * (static_cast<float>(state >> 8) / 8388608.0f - 1.0f);
    }
    return samples;
}

// The speech check's own temporary recordings ("dictation-<id>.wav") in a folder. Other
// programs may leave things there too (espeak-ng's sound library makes a runtime folder).
std::vector<std::string> checkRecordingsIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("dictation-") && name.ends_with(".wav")) {
            names.push_back(name);
        }
    }
    return names;
}

class SpeechCheckRun : public testing::Test {
  protected:
    void SetUp() override {
        // The temporary WAV goes here, so the test sees whether it was removed.
        fs::create_directories(temp);
        ::setenv("TMPDIR", temp.c_str(), 1);
        TestModels::writeVoiceActivity(model);
    }
    // Runs the check, returning its answer and what it logged.
    std::pair<bool, std::string> check(const std::vector<float>& samples,
                                       const VoiceActivityCheck::SpeechTool& tool) {
        testing::internal::CaptureStderr();
        const bool silent = VoiceActivityCheck::isSilent(samples, tool);
        std::string logged = testing::internal::GetCapturedStderr();
        EXPECT_EQ(checkRecordingsIn(temp), std::vector<std::string>{})
            << "the temporary WAV file was left behind";
        return {silent, logged};
    }
    void writeScript(const fs::path& file, const std::string& body) {
        writeAll(file, "#!/bin/sh\n" + body + "\n");
        ::chmod(file.c_str(), 0755);
    }

    TempDir dir;
    fs::path temp = dir / "tmp";
    fs::path model = dir / "ggml-silero-test.bin";
};

class RealVoiceActivity : public SpeechCheckRun {
  protected:
    void SetUp() override {
        SpeechCheckRun::SetUp();
        program = findProgram("whisper-vad-speech-segments");
        if (program.empty()) {
            GTEST_SKIP() << "whisper-vad-speech-segments is not installed (run ./scripts/setup.sh)";
        }
        ::setenv("GGML_NO_BACKTRACE", "1", 1);
        // The tool's OpenMP threads spin while they wait; on a test machine whose two cores
        // are busy with other suites that alone can take it past its 5 s limit.
        ::setenv("OMP_WAIT_POLICY", "PASSIVE", 1);
    }
    VoiceActivityCheck::SpeechTool tool() const { return {program, model, 5}; }
    std::string program;
};

TEST_F(RealVoiceActivity, TellsSpeechFromSilence) {
    const std::string missing = missingPrograms({"espeak-ng", "sox"});
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    writeSpeech(dir / "speech.wav", "Please check whether anybody is speaking here.");
    const auto speech = readWav(dir / "speech.wav");
    ASSERT_GT(speech.size(), 16000u);

    const auto [speechIsSilent, speechLog] = check(speech, tool());
    EXPECT_FALSE(speechIsSilent);
    EXPECT_EQ(speechLog, "") << "the tool answered";

    // Silence and a faint hiss: loud enough for the loudness rule, not for the tool.
    for (const auto& quiet : {std::vector<float>(2 * 16000, 0.0f), noise(2, 0.015f)}) {
        const auto [silent, logged] = check(quiet, tool());
        EXPECT_TRUE(silent);
        EXPECT_EQ(logged, "");
    }
}

TEST_F(RealVoiceActivity, TheToolIgnoresTheShortDurationOptionWithoutAResult) {
    // Why the check passes the long option: with "-vspd" the tool prints its usage to standard
    // error and exits 0, and its output would say nothing about speech.
    writeAll(dir / "silence.wav", WavEncoder::encode(std::vector<float>(16000, 0.0f)));
    const std::string output = run({program, "-f", (dir / "silence.wav").string(), "-vm",
                                    model.string(), "-vt", "0.3", "-vspd", "100", "-np"});
    EXPECT_EQ(SpeechCheck::isSilent(output), std::nullopt) << output;
    const std::string fixed =
        run(SpeechCheck::arguments(program, (dir / "silence.wav").string(), model.string()));
    EXPECT_EQ(SpeechCheck::isSilent(fixed), true) << fixed;
}

TEST_F(RealVoiceActivity, ThePathsComeFromTheToolFolderAndTheModelsFolder) {
    const auto standard = VoiceActivityCheck::SpeechTool::standard(Paths(
        "/opt/parlwick/bin/parlwick", std::nullopt, Paths::Homes::under("/nowhere"), "/work"));
    EXPECT_EQ(standard.program, "whisper-vad-speech-segments") << "found on PATH outside app mode";
    EXPECT_EQ(standard.model.filename(), "ggml-silero-v5.1.2.bin");
    EXPECT_EQ(standard.model.parent_path(), "/work/models");
    EXPECT_EQ(standard.timeoutSeconds, 5);
}

TEST_F(RealVoiceActivity, AMissingOrBrokenModelFallsBackToLoudness) {
    writeAll(dir / "broken.bin", "ggml? no");
    for (const fs::path& bad : {dir / "missing.bin", dir / "broken.bin"}) {
        const VoiceActivityCheck::SpeechTool broken{program, bad, 5};
        const auto [silentQuiet, logQuiet] = check(std::vector<float>(8000, 0.001f), broken);
        EXPECT_TRUE(silentQuiet);
        const std::string failure =
            std::string(fallbackLine) + "process: " + program + " exited 2 (";
        EXPECT_EQ(logQuiet.substr(0, failure.size()), failure);
        const auto [silentLoud, logLoud] = check(noise(0.5, 0.5f), broken);
        EXPECT_FALSE(silentLoud);
        EXPECT_NE(logLoud.find(fallbackLine), std::string::npos);
    }
}

TEST_F(SpeechCheckRun, AMissingToolFallsBackToLoudness) {
    const VoiceActivityCheck::SpeechTool missing{(dir / "no-such-tool").string(), model, 5};
    const std::vector<std::pair<std::vector<float>, bool>> rows = {
        {{}, true},
        {std::vector<float>(16000, 0.0099f), true},
        {std::vector<float>{0.0f, 0.0f, -0.01f}, false},
    };
    for (const auto& [samples, silent] : rows) {
        const auto [answer, logged] = check(samples, missing);
        EXPECT_EQ(answer, silent) << samples.size();
        EXPECT_EQ(logged, std::string(fallbackLine) + "process: " + missing.program +
                              " could not be started (no such file or directory)\n");
    }
}

TEST_F(SpeechCheckRun, OutputWithoutAResultIsAFailedCheckNotSpeech) {
    // What the voice-activity tool does with an option it does not know: usage, status 0.
    const fs::path tool = dir / "usage-only";
    writeScript(tool,
                "echo 'error: unknown argument: -vspd' >&2; echo 'usage: tool [options] file' >&2");
    const auto [quiet, quietLog] =
        check(std::vector<float>(16000, 0.0f), {tool.string(), model, 5});
    EXPECT_TRUE(quiet) << "decided by loudness";
    EXPECT_EQ(quietLog,
              std::string(fallbackLine) + "process: " + tool.string() + " gave no result\n");
    const auto [loud, loudLog] = check(noise(1, 0.5f), {tool.string(), model, 5});
    EXPECT_FALSE(loud);
    EXPECT_EQ(loudLog, quietLog);
}

TEST_F(SpeechCheckRun, AHangingToolIsStoppedAtItsTimeLimit) {
    const fs::path tool = dir / "hangs";
    // exec: the tool itself hangs, not a child it would leave behind.
    writeScript(tool, "exec sleep 30");
    const auto start = std::chrono::steady_clock::now();
    const auto [silent, logged] = check(std::vector<float>(16000, 0.0f), {tool.string(), model, 1});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_TRUE(silent);
    EXPECT_EQ(logged,
              std::string(fallbackLine) + "process: " + tool.string() + " timed out after 1s\n");
}

TEST_F(SpeechCheckRun, AnUnwritableTemporaryFileFallsBackToLoudness) {
    // A folder where nobody, not even root, can create a file.
    ::setenv("TMPDIR", "/proc", 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(VoiceActivityCheck::isSilent(noise(0.2, 0.3f), {"true", model, 5}));
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(logged.substr(0, std::string(fallbackLine).size()), fallbackLine);
    EXPECT_NE(logged.find("couldn't write dictation-"), std::string::npos) << logged;
}

} // namespace

namespace {

TEST(SpeechCheckLeftovers, OnlyOldTemporaryRecordingsAreRemoved) {
    TempDir dir;
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const auto aged = [&](const std::string& name, std::chrono::seconds age) {
        writeAll(dir / name, "RIFF");
        fs::last_write_time(dir / name, fs::file_time_type::clock::now() - age);
    };
    aged("dictation-1.wav", std::chrono::seconds(120)); // left by a process that ended
    aged("dictation-2.wav", std::chrono::seconds(5));   // a check running right now
    aged("dictation-3.txt", std::chrono::seconds(120)); // not ours
    aged("recording-4.wav", std::chrono::seconds(120)); // not ours
    fs::create_directories(dir / "dictation-5.wav");    // not a file
    fs::last_write_time(dir / "dictation-5.wav",
                        fs::file_time_type::clock::now() - std::chrono::seconds(120));

    VoiceActivityCheck::removeLeftovers();
    EXPECT_FALSE(fs::exists(dir / "dictation-1.wav"));
    for (const char* kept :
         {"dictation-2.wav", "dictation-3.txt", "recording-4.wav", "dictation-5.wav"}) {
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
    }
}

} // namespace
