// The recorder's rules, and the PulseAudio recorder against a private PulseAudio server whose
// virtual microphone plays espeak-ng speech.
#include "AudioTools.h"
#include "PostedWork.h"
#include "TestSupport.h"
#include "audio/PulseRecorder.h"
#include "platform/AppError.h"

#include <QCoreApplication>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(RecorderLevel, IsTwelveTimesTheRmsCappedAtOne) {
    const std::vector<std::pair<std::vector<float>, float>> rows = {
        {{}, 0.0f},
        {{0.0f, 0.0f}, 0.0f},
        {{0.05f, -0.05f}, 0.6f},
        {{0.03f, 0.04f}, 12.0f * std::sqrt((0.0009f + 0.0016f) / 2)},
        {{0.1f, -0.1f}, 1.0f},
        {{1.0f}, 1.0f},
    };
    for (const auto& [block, level] : rows) {
        EXPECT_NEAR(Recorder::level(block), level, 1e-5) << block.size() << " samples";
    }
}

TEST(RecorderSnapshot, TakesTheLastWholeSamplesOrEverything) {
    std::vector<float> fiveSeconds(5 * 16000);
    std::iota(fiveSeconds.begin(), fiveSeconds.end(), 0.0f);
    std::vector<float> twentySeconds(20 * 16000, 1.0f);
    twentySeconds[20 * 16000 - 192000] = 7.0f;

    EXPECT_EQ(Recorder::lastSamples(fiveSeconds, 12.0).size(), 80000u);
    EXPECT_EQ(Recorder::lastSamples(fiveSeconds, std::nullopt), fiveSeconds);
    const auto last = Recorder::lastSamples(twentySeconds, 12.0);
    ASSERT_EQ(last.size(), 192000u);
    EXPECT_EQ(last.front(), 7.0f) << "the most recent samples, not the first";
    // 16000 * 0.00011 = 1.76 samples: truncated to 1.
    EXPECT_EQ(Recorder::lastSamples(fiveSeconds, 0.00011), std::vector<float>{79999.0f});
    EXPECT_TRUE(Recorder::lastSamples(fiveSeconds, 0.0).empty());
    EXPECT_TRUE(Recorder::lastSamples({}, 12.0).empty());
}

TEST(RecorderMainThread, HooksRunOnTheQtEventLoopsThread) {
    int argc = 1;
    char name[] = "RecorderTests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const auto deliver = Recorder::mainThread();
    std::thread::id ranOn;
    std::thread audio([&] { deliver([&] { ranOn = std::this_thread::get_id(); }); });
    audio.join();
    EXPECT_EQ(ranOn, std::thread::id()) << "posted, not run on the calling thread";
    QCoreApplication::processEvents();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

std::string audioFailure(const std::function<void()>& work) {
    try {
        work();
    } catch (const AppError& error) {
        EXPECT_EQ(error.kind(), AppError::Kind::audio);
        return error.description();
    }
    return "no error";
}

TEST(PulseRecorderWithoutServer, StartFailsAtOnceWithTheReason) {
    TempDir dir;
    ::setenv("PULSE_SERVER", ("unix:" + (dir / "no-server").string()).c_str(), 1);
    PostedWork posted;
    PulseRecorder recorder("parlwick-tests", std::make_shared<SystemClock>(), posted.deliver());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(audioFailure([&] { recorder.start(); }),
              "audio: audio server unavailable: Connection refused");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(recorder.startedAt());
    const auto nothing = recorder.stop();
    EXPECT_TRUE(nothing.samples.empty());
    EXPECT_EQ(nothing.seconds, 0.0);
}

class RealMicrophone : public testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = missingPrograms(
            {"pulseaudio", "pactl", "pacat", "parec", "paplay", "espeak-ng", "sox"});
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        server = std::make_unique<PulseServer>(dir.path());
        speech = dir / "speech.wav";
        writeSpeech(speech, "Testing the microphone, one two three, testing the microphone.");
        recorder = std::make_unique<PulseRecorder>(
            "parlwick-tests", std::make_shared<SystemClock>(), posted.deliver());
        recorder->onLevel = [this](float level) { levels.push_back(level); };
        recorder->onInterrupted = [this] { ++interruptions; };
    }
    void TearDown() override {
        recorder.reset();
        server.reset();
    }
    // Lets the hooks arrive while time passes.
    void wait(std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            posted.runPending();
            std::this_thread::sleep_for(10ms);
        }
        posted.runPending();
    }

    TempDir dir;
    std::unique_ptr<PulseServer> server;
    std::filesystem::path speech;
    PostedWork posted;
    std::unique_ptr<PulseRecorder> recorder;
    std::vector<float> levels;
    int interruptions = 0;
};

TEST_F(RealMicrophone, RecordsSpeechAt16kHzWithALiveLevel) {
    recorder->start();
    ASSERT_TRUE(recorder->startedAt());
    wait(600ms);
    const std::size_t quietBlocks = levels.size();
    const float quietLevel = levels.empty() ? 0 : *std::max_element(levels.begin(), levels.end());
    server->play(speech);
    server->waitForPlay();
    wait(300ms);
    const auto snapshot = recorder->snapshot(1.0);
    const auto recording = recorder->stop();

    EXPECT_FALSE(recorder->startedAt());
    EXPECT_GT(recording.seconds, 2.0);
    // Everything from start to stop, less at most the block still in flight.
    const double expected = recording.seconds * 16000;
    EXPECT_GT(static_cast<double>(recording.samples.size()), expected - 2 * 2048 - 800);
    EXPECT_LT(static_cast<double>(recording.samples.size()), expected + 800);
    EXPECT_EQ(snapshot.size(), 16000u);

    EXPECT_GE(quietBlocks, 2u) << "levels arrive while recording";
    EXPECT_LT(quietLevel, 0.01f) << "silence before the speech";
    ASSERT_FALSE(levels.empty());
    EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 0.3f) << "speech is loud";
    float loudest = 0;
    for (float sample : recording.samples) {
        loudest = std::max(loudest, std::fabs(sample));
    }
    EXPECT_GT(loudest, 0.1f);

    // Stop keeps the samples; a second stop returns them again with 0 seconds; the next start
    // begins afresh.
    EXPECT_EQ(recorder->snapshot().size(), recording.samples.size());
    const auto again = recorder->stop();
    EXPECT_EQ(again.samples, recording.samples);
    EXPECT_EQ(again.seconds, 0.0);
    recorder->start();
    EXPECT_LT(recorder->snapshot().size(), 2048u * 2);
    recorder->stop();
}

TEST_F(RealMicrophone, SwitchingTheInputDeviceInterrupts) {
    ASSERT_EQ(server
                  ->pactl({"load-module", "module-remap-source", "source_name=vmic2",
                           "master=vmic_sink.monitor"})
                  .status,
              0);
    recorder->start();
    wait(300ms);
    interruptions = 0;
    ASSERT_EQ(server->pactl({"set-default-source", "vmic2"}).status, 0);
    wait(500ms);
    EXPECT_GE(interruptions, 1);
    recorder->stop();

    // Other changes of the server (the default output) are not an interruption.
    recorder->start();
    wait(200ms);
    interruptions = 0;
    ASSERT_EQ(server->pactl({"load-module", "module-null-sink", "sink_name=other"}).status, 0);
    ASSERT_EQ(server->pactl({"set-default-sink", "other"}).status, 0);
    wait(500ms);
    EXPECT_EQ(interruptions, 0);
    recorder->stop();
}

TEST_F(RealMicrophone, AMicrophoneThatDisappearsMidRecordingInterrupts) {
    recorder->start();
    wait(600ms);
    interruptions = 0;
    ASSERT_EQ(server->pactl({"unload-module", "module-remap-source"}).status, 0);
    wait(500ms);
    EXPECT_GE(interruptions, 1);
    const auto recording = recorder->stop();
    EXPECT_GT(recording.samples.size(), 2048u);
    EXPECT_EQ(audioFailure([&] { recorder->start(); }), "audio: no usable microphone")
        << "only the monitor of the output is left";
}

TEST_F(RealMicrophone, AServerThatDiesMidRecordingInterruptsAndKeepsWhatWasRecorded) {
    recorder->start();
    wait(600ms);
    server->kill();
    wait(500ms);
    EXPECT_GE(interruptions, 1);
    const auto recording = recorder->stop();
    EXPECT_GT(recording.samples.size(), 2048u);
    EXPECT_EQ(audioFailure([&] { recorder->start(); }).substr(0, 33),
              "audio: audio server unavailable: ");
}

TEST_F(RealMicrophone, AMonitorOfAnOutputIsNoMicrophone) {
    ASSERT_EQ(server->pactl({"set-default-source", "vmic_sink.monitor"}).status, 0);
    EXPECT_EQ(audioFailure([&] { recorder->start(); }), "audio: no usable microphone");
    EXPECT_FALSE(recorder->startedAt());
}

TEST_F(RealMicrophone, HooksPostedAfterTheRecorderIsGoneAreDropped) {
    recorder->start();
    std::this_thread::sleep_for(400ms);
    recorder.reset();
    posted.runPending(); // would touch the destroyed recorder
    EXPECT_TRUE(levels.empty());
}

} // namespace
