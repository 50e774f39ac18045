// Voice tuning inside the app: the record key's recordings reach it through the main window's
// capture rule, the "Your voice" pane shows it offscreen, and a whole run goes through the real
// whisper-server with a generated model.
#include "AudioTools.h"
#include "FakeFocusProbe.h"
#include "FakeRecorder.h"
#include "FakeSpeechEngine.h"
#include "FakeTextInserter.h"
#include "FakeWindowProbe.h"
#include "LogCapture.h"
#include "PostedWork.h"
#include "ScriptedSpeechEngine.h"
#include "TestModels.h"
#include "VoiceScore.h"
#include "WavEncoder.h"
#include "WindowFixture.h"
#include "dictation/Controller.h"
#include "speech/WhisperServer.h"
#include "ui/VoiceField.h"
#include "ui/window/MainWindow.h"
#include "ui/window/MainWindowView.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/SettingsSheet.h"
#include "ui/window/VoiceTab.h"
#include "voice/VoiceTest.h"

#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Where the tune runs hand their progress and results to the main thread: a queue under a
// mutex, so the thread checker sees each hand-off, which Qt's own event queue hides from it.
PostedWork& posted() {
    static PostedWork work;
    return work;
}

// Runs the main loop and the posted work until `done` holds or `seconds` pass.
bool runUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        posted().runPending();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A microphone that hears the user read: each recording holds the next speech given to it,
// however long the key was held.
class ReadingRecorder final : public Recorder {
  public:
    explicit ReadingRecorder(const Clock& clock) : clock_(clock) {}

    std::vector<float> speech;

    void start() override { startedAt_ = clock_.uptime(); }
    Recording stop() override {
        const double seconds = clock_.uptime() - startedAt_.value_or(clock_.uptime());
        startedAt_.reset();
        return {speech, seconds};
    }
    std::vector<float> snapshot(std::optional<double>) const override { return speech; }
    std::optional<double> startedAt() const override { return startedAt_; }

  private:
    const Clock& clock_;
    std::optional<double> startedAt_;
};

// The main window, voice tuning and a real dictation controller on fakes, wired the way
// start-up wires them.
class VoiceCapture : public WindowFixture {
  protected:
    void SetUp() override {
        scheduler.moved = [this](double now) { clock->setUptime(5000 + now); };
    }

    void make(std::shared_ptr<SpeechEngine> engine, SpeechEngine& dictationEngine,
              std::unique_ptr<Recorder> recorder = nullptr) {
        test =
            std::make_unique<VoiceTest>(paths.voiceTest(), std::move(engine), posted().deliver());
        parts->voiceTest = test.get();
        window = std::make_unique<MainWindow>(*state, *parts, "1.2.3");
        if (!recorder) {
            recorder = std::make_unique<FakeRecorder>(*clock);
        }
        Controller::Parts parts{std::move(recorder),
                                paster,
                                windows,
                                focus,
                                scheduler,
                                SettingsFile(paths.settings()),
                                [](std::span<const float>) { return false; },
                                [] {}};
        parts.clock = clock;
        controller = std::make_unique<Controller>(Options{}, dictationEngine,
                                                  TimingLog{home / "runs.csv"}, std::move(parts));
        controller->captureTarget = MainWindow::captureHook(*window, *test);
        controller->onResult = [this](const Dictation&, const Controller::Samples&) { ++results; };
    }

    // The record key held for `seconds`, and the dictation's work done.
    void dictate(double seconds) {
        controller->keyDown();
        scheduler.advanceBy(seconds);
        controller->keyUp();
        for (int i = 0; i < 3; ++i) {
            controller->waitForWork();
            QCoreApplication::sendPostedEvents();
        }
    }

    void showVoiceTab() {
        state->setSettingsTab(SettingsTab::yourVoice);
        window->show();
        QCoreApplication::processEvents();
    }

    VoiceTab* tab() { return window->widget()->findChild<VoiceTab*>(); }

    FakeTextInserter paster;
    FakeWindowProbe windows;
    FakeFocusProbe focus;
    FakeSpeechEngine fakeEngine;
    int results = 0;
    std::unique_ptr<VoiceTest> test;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<Controller> controller;
};

TEST_F(VoiceCapture, WithTheTabShowingARecordingIsSavedAndNothingTypedOrKept) {
    make(std::make_shared<ScriptedSpeechEngine>(), fakeEngine);
    showVoiceTab();
    ASSERT_TRUE(window->captureTarget()) << "the shown window makes the app active";

    dictate(1.5);
    EXPECT_EQ(test->index(), 1);
    EXPECT_EQ(readAll(test->file(1, "wav")), WavEncoder::encode(std::vector<float>(1500, 0.25f)));
    EXPECT_TRUE(paster.pastes.empty());
    EXPECT_EQ(results, 0) << "nothing in the history";
    EXPECT_TRUE(fakeEngine.transcribed.empty());
    EXPECT_TRUE(shows(tab(), "1 of 30 recorded"));

    // Another tab, or the window hidden: dictation as usual.
    state->setSettingsTab(SettingsTab::general);
    dictate(1.5);
    EXPECT_EQ(paster.pastes.size(), 1u);
    state->setSettingsTab(SettingsTab::yourVoice);
    window->hide();
    QCoreApplication::processEvents();
    dictate(1.5);
    EXPECT_EQ(paster.pastes.size(), 2u);
    EXPECT_EQ(results, 2);
    EXPECT_EQ(test->index(), 1);
    EXPECT_FALSE(std::filesystem::exists(test->file(2, "wav")));
}

TEST_F(VoiceCapture, AReceiverOutlivingTheVoiceTestDropsTheRecording) {
    make(std::make_shared<ScriptedSpeechEngine>(), fakeEngine);
    showVoiceTab();
    controller->keyDown();
    parts->voiceTest = nullptr;
    window.reset();
    test.reset();
    scheduler.advanceBy(1.5);
    controller->keyUp();
    controller->waitForWork();
    EXPECT_TRUE(paster.pastes.empty());
    EXPECT_FALSE(std::filesystem::exists(paths.voiceTest() / "01.wav"));
}

TEST_F(VoiceCapture, ThePaneShowsProgressHintsAndTunesOnlyWithFiveRecordings) {
    auto engine = std::make_shared<ScriptedSpeechEngine>();
    for (int k = 1; k <= VoiceTest::sentenceCount; ++k) {
        engine->usual[k] = std::string(VoiceTest::sentences[static_cast<std::size_t>(k - 1)]);
    }
    make(engine, fakeEngine);
    showVoiceTab();
    VoiceTab* pane = tab();
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(modeOf(paths.voiceTest()), 0700u) << "showing the pane opens the folder";
    for (const char* text :
         {"Tune to your voice",
          "Read at least 5 sentences, then Tune tries words that fix what it misheard.",
          "0 of 30 recorded", "Can you send me the latest draft before lunch?",
          "Hold right Alt, read it the way you normally talk, then let go."}) {
        EXPECT_TRUE(shows(pane, text)) << text;
    }
    auto* tune = named<QPushButton>(pane, "Tune");
    auto* redo = named<QPushButton>(pane, "Redo previous");
    auto* stop = named<QPushButton>(pane, "Stop");
    ASSERT_TRUE(tune && redo && stop && named<QPushButton>(pane, "Show recordings"));
    EXPECT_FALSE(tune->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
    EXPECT_FALSE(stop->isVisibleTo(pane));

    for (int k = 1; k <= 4; ++k) {
        dictate(1 + 0.1 * k);
        engine->recordings[readAll(test->file(k, "wav"))] = k;
    }
    EXPECT_FALSE(tune->isEnabled()) << "four are not enough";
    EXPECT_TRUE(redo->isEnabled());
    dictate(1.5);
    engine->recordings[readAll(test->file(5, "wav"))] = 5;
    EXPECT_TRUE(tune->isEnabled());
    EXPECT_TRUE(shows(pane, "5 of 30 recorded"));
    EXPECT_EQ(named<QProgressBar>(pane, "Sentences recorded")->value(), 5);
    EXPECT_TRUE(shows(pane, ScreenParts::text(VoiceTest::sentences[5])));

    // A run in progress: its progress and Stop show, Tune and Redo wait; Stop ends it quietly.
    engine->holdAt = 1;
    tune->click();
    ASSERT_TRUE(engine->waitForCall(1));
    ASSERT_TRUE(runUntil([&] { return shows(pane, "Checking 1 of 89…"); }, 10));
    EXPECT_FALSE(tune->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
    EXPECT_TRUE(stop->isVisibleTo(pane));
    stop->click();
    engine->release();
    ASSERT_TRUE(runUntil([&] { return !test->isTuning(); }, 10));
    EXPECT_TRUE(tune->isEnabled());
    EXPECT_FALSE(named<QLabel>(pane, "Tuning result")->isVisibleTo(pane));

    tune->click();
    ASSERT_TRUE(runUntil([&] { return !test->isTuning(); }, 10));
    int words = 0;
    for (int k = 0; k < 5; ++k) {
        words += VoiceScore::wordCount(VoiceTest::sentences[static_cast<std::size_t>(k)]);
    }
    EXPECT_TRUE(shows(pane, QString("It heard all %1 words right. Nothing to fix.").arg(words)));

    redo->click();
    EXPECT_TRUE(shows(pane, "4 of 30 recorded"));
    for (int k = 5; k <= 30; ++k) {
        test->save({0.1f});
    }
    EXPECT_TRUE(shows(pane, "30 of 30 recorded"));
    EXPECT_TRUE(shows(pane, "Recordings stay on this computer."));
    EXPECT_FALSE(named<QLabel>(pane, "Sentence to read")->isVisibleTo(pane));

    // Failures take the hint's place.
    std::filesystem::remove_all(paths.voiceTest());
    writeAll(paths.voiceTest(), "a file");
    redo->click();
    dictate(1.5);
    EXPECT_TRUE(named<QLabel>(pane, "Hint")->text().startsWith("Couldn't save: "));
}

TEST_F(VoiceCapture, ThePaneNamesTheMicrophoneAndShowsTheSmoothedLevelWhileTheUserReads) {
    make(std::make_shared<ScriptedSpeechEngine>(), fakeEngine);
    showVoiceTab();
    EXPECT_TRUE(shows(tab(), "No microphone found. Plug one in or choose one in your sound "
                             "settings."));
    state->setMicrophoneName("Built-in Audio Analog Stereo");
    EXPECT_TRUE(shows(tab(), "Listening with Built-in Audio Analog Stereo."));

    auto* field = named<VoiceField>(tab(), "Input level");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isVisibleTo(tab()));
    EXPECT_EQ(field->frames().interval(), VoiceField::idleInterval);
    voice.listen();
    voice.setLevel(0.5f);
    voice.setWords("so far");
    EXPECT_EQ(field->frames().interval(), VoiceField::recordingInterval);
    // A fast rise, never past the level heard.
    ASSERT_TRUE(runUntil([&] { return field->displayedLevel() > 0.45; }, 5));
    EXPECT_LE(field->displayedLevel(), 0.5);
    EXPECT_TRUE(shows(tab(), "so far"));
    voice.finish();
    EXPECT_EQ(field->frames().interval(), VoiceField::idleInterval);
    ASSERT_TRUE(runUntil([&] { return field->displayedLevel() < 0.05; }, 5));
}

// The whole way with real parts: the record key's recordings through the capture rule into
// real files, then a run against whisper-server with a model that always answers sentence 1.
TEST_F(VoiceCapture, FiveReadingsAreSavedPrivatelyAndTunedAgainstTheRealServer) {
    if (const auto missing = missingPrograms({"whisper-server", "espeak-ng", "sox"});
        !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const std::string program = findProgram("whisper-server");
    ::setenv("GGML_NO_BACKTRACE", "1", 1);
    const auto model = home / "ggml-test.bin";
    TestModels::writeWhisper(model, std::string(VoiceTest::sentences[0]));
    auto setup = WhisperServer::Setup::standard(paths);
    setup.program = program;
    auto server = std::make_shared<WhisperServer>(model, "en", setup);
    auto reader = std::make_unique<ReadingRecorder>(*clock);
    ReadingRecorder& microphone = *reader;
    make(server, *server, std::move(reader));
    std::filesystem::create_directories(paths.voiceTest());
    std::filesystem::permissions(paths.voiceTest(), std::filesystem::perms(0755));

    showVoiceTab();
    ASSERT_TRUE(window->captureTarget());
    std::vector<std::vector<float>> readings;
    for (int k = 1; k <= 5; ++k) {
        const auto wav = home / ("reading-" + std::to_string(k) + ".wav");
        writeSpeech(wav, std::string(VoiceTest::sentences[static_cast<std::size_t>(k - 1)]));
        readings.push_back(readWav(wav));
        microphone.speech = readings.back();
        dictate(3);
    }
    ASSERT_EQ(test->index(), 5);
    EXPECT_EQ(modeOf(paths.voiceTest()), 0700u);
    for (int k = 1; k <= 5; ++k) {
        EXPECT_EQ(modeOf(test->file(k, "wav")), 0600u) << k;
        EXPECT_EQ(modeOf(test->file(k, "txt")), 0600u) << k;
        EXPECT_EQ(readAll(test->file(k, "wav")),
                  WavEncoder::encode(readings[static_cast<std::size_t>(k - 1)]))
            << k;
    }
    EXPECT_TRUE(paster.pastes.empty());

    LogCapture log;
    const auto started = std::chrono::steady_clock::now();
    test->tune(*words);
    // Dictation goes on beside the run, through the same server.
    window->hide();
    dictate(3);
    ASSERT_EQ(paster.pastes.size(), 1u) << log.text();
    EXPECT_EQ(paster.pastes[0].first, VoiceTest::sentences[0]);
    const bool dictatedDuringRun = test->isTuning();
    ASSERT_TRUE(runUntil([&] { return !test->isTuning(); }, 600));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    ASSERT_TRUE(test->result()) << test->status();
    // Sentence 1 is heard right; the other four are all wrong in the same way, and no prompt
    // changes the model's answer, so no word is added.
    EXPECT_GT(test->result()->before, 0);
    EXPECT_EQ(test->result()->after, test->result()->before);
    EXPECT_TRUE(test->result()->added.empty());
    EXPECT_TRUE(words->terms().empty());
    const std::string logged = log.text();
    const auto done = logged.find("tuning done: ");
    ASSERT_NE(done, std::string::npos) << logged;
    std::cout << "[ measure  ] 5-recording tune run: " << seconds << " s; " << logged.substr(done)
              << "[ measure  ] dictation finished during the run: "
              << (dictatedDuringRun ? "yes" : "no") << "\n";
}

} // namespace
