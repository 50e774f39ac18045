#include "FakeFocusProbe.h"
#include "FakeRecorder.h"
#include "FakeSpeechEngine.h"
#include "FakeTextInserter.h"
#include "FakeWindowProbe.h"
#include "FixedClock.h"
#include "LogCapture.h"
#include "ManualScheduler.h"
#include "StandInModelServer.h"
#include "cleanup/ChatModel.h"
#include "config/Settings.h"
#include "dictation/Controller.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <mutex>

namespace {

using namespace std::chrono_literals;
using Phase = DictationState::Phase;

// The state machine alone: no window, just an event loop for the workers' results.
class ControllerTest : public testing::Test {
  protected:
    void SetUp() override {
        scheduler.moved = [this, start = clock->now()](double now) {
            clock->set(start + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                   std::chrono::duration<double>(now)));
            clock->setUptime(5000 + now);
        };
        make();
    }

    void make(Options options = {}, std::shared_ptr<const OnDeviceCleaner> cleaner = nullptr) {
        controller.reset();
        auto fake = std::make_unique<FakeRecorder>(*clock);
        recorder = fake.get();
        Controller::Parts parts{std::move(fake),
                                paster,
                                windows,
                                focus,
                                scheduler,
                                SettingsFile(folder / "settings.ini"),
                                [this](std::span<const float> samples) {
                                    std::lock_guard guard(checks);
                                    checked.push_back(samples.size());
                                    return silent;
                                },
                                [this] { ++sounds; }};
        parts.clock = clock;
        if (cleaner) {
            parts.cleaner = std::move(cleaner);
        }
        controller =
            std::make_unique<Controller>(options, engine, TimingLog{runs()}, std::move(parts));
        controller->keyLabel = [] { return std::string("right Alt"); };
        controller->onResult = [this](const Dictation& d, const Controller::Samples& s) {
            results.push_back(d);
            resultSamples.push_back(s.size());
        };
        QObject::connect(&controller->state(), &DictationState::phaseChanged, [this] {
            const bool was = !recordingChanges.empty() && recordingChanges.back();
            if (controller->isRecording() != was) {
                recordingChanges.push_back(controller->isRecording());
            }
        });
    }

    std::filesystem::path runs() const { return folder / "runs.csv"; }

    // Time passes for the timers, the clock and the uptime alike.
    void advance(double seconds) { scheduler.advanceBy(seconds); }
    // The workers finish and their results reach the main thread.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            controller->waitForWork();
            QCoreApplication::sendPostedEvents();
        }
    }
    void press(double held) {
        controller->keyDown();
        advance(held);
        controller->keyUp();
    }
    void dictate(double held = 1.5) {
        press(held);
        settle();
    }
    // Whether a view of the state shows anything.
    bool shown() { return controller->state().phase() != Phase::idle; }
    // Speech checks of whole recordings, told from the live words' 100-sample snapshots.
    int finalChecks() {
        std::lock_guard guard(checks);
        return static_cast<int>(
            std::count_if(checked.begin(), checked.end(), [](std::size_t n) { return n != 100; }));
    }

    TempDir folder;
    std::shared_ptr<FixedClock> clock =
        std::make_shared<FixedClock>(Timestamp(std::chrono::seconds(1'800'000'000)));
    ManualScheduler scheduler;
    FakeRecorder* recorder = nullptr;
    FakeSpeechEngine engine;
    FakeTextInserter paster;
    FakeWindowProbe windows;
    FakeFocusProbe focus;
    std::mutex checks;
    std::vector<std::size_t> checked;
    bool silent = false;
    int sounds = 0;
    std::vector<Dictation> results;
    std::vector<std::size_t> resultSamples;
    std::vector<bool> recordingChanges;
    std::unique_ptr<Controller> controller;
};

TEST_F(ControllerTest, AHeldKeyTypesTheCleanedTextAndLeavesARecordWithoutWordsInTheLogs) {
    LogCapture log;
    dictate(1.5);

    ASSERT_EQ(paster.pastes.size(), 1u);
    EXPECT_EQ(paster.pastes[0], std::make_pair(std::string("So send it Tuesday."), false));
    ASSERT_EQ(results.size(), 1u);
    const Dictation& d = results[0];
    EXPECT_EQ(d.outcome, Outcome::typed);
    EXPECT_EQ(d.text, "So send it Tuesday.");
    EXPECT_EQ(d.heard, "um so send it Monday, no, Tuesday.");
    EXPECT_EQ(d.app, "Editor");
    EXPECT_DOUBLE_EQ(d.seconds, 1.5);
    EXPECT_FALSE(d.problem);
    EXPECT_EQ(resultSamples, std::vector<std::size_t>{1500});
    EXPECT_EQ(recordingChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(sounds, 1);
    EXPECT_FALSE(shown());

    const std::string csv = readAll(runs());
    EXPECT_NE(csv.find(",1.50,7,"), std::string::npos) << csv; // seconds and words, no text
    EXPECT_NE(csv.find("\"Editor\""), std::string::npos) << csv;
    EXPECT_TRUE(log.contains("Editor: 1.5s audio, 7 words, asr ")) << log.text();
    for (const char* word : {"Tuesday", "Monday", "send"}) {
        EXPECT_EQ(csv.find(word), std::string::npos);
        EXPECT_EQ(log.text().find(word), std::string::npos) << log.text();
    }
}

TEST_F(ControllerTest, RawModeTypesTheTranscriptAsHeardInTheAppsStyleWithItsSnippets) {
    make(Options{.cleanup = false});
    std::vector<AppGroup> asked;
    controller->formatting = [&](AppGroup group) {
        asked.push_back(group);
        return std::optional(Controller::Formatting{WritingStyle::lowercase,
                                                    {Snippet::make("tuesday", "Tue 5 May")}});
    };
    dictate();
    EXPECT_EQ(asked, std::vector<AppGroup>{AppGroup::other});
    ASSERT_EQ(paster.pastes.size(), 1u);
    EXPECT_EQ(paster.pastes[0].first, "um so send it monday, no, Tue 5 May");
}

TEST_F(ControllerTest, ALocalModelsEditIsTypedOnlyWhenItKeepsEveryWord) {
    const struct {
        const char* mode;
        const char* typed;
    } cases[] = {
        {"edit", "What time is it in Tokyo, and can you tell me a story?"},
        // It answers the question instead: the rules' text is typed.
        {"answer", "What time is it in Tokyo and and can you tell me a story"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const StandInModelServer server(c.mode);
        make({}, std::make_shared<OnDeviceCleaner>(
                     std::make_shared<ChatModel>(ChatModel::Setup{server.endpoint(), "small"})));
        engine.transcript = "um what time is it in Tokyo and and can you tell me a story";
        LogCapture log;
        paster.pastes.clear();
        dictate();
        ASSERT_EQ(paster.pastes.size(), 1u);
        EXPECT_EQ(paster.pastes[0].first, c.typed);
        EXPECT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(log.text().find("Tokyo"), std::string::npos) << log.text();
    }
}

TEST_F(ControllerTest, PressesUnderThreeTenthsAreDroppedAndExactlyThreeTenthsCount) {
    press(0.29);
    settle();
    EXPECT_FALSE(controller->isRecording());
    EXPECT_TRUE(paster.pastes.empty());
    EXPECT_TRUE(results.empty());
    EXPECT_FALSE(shown());

    advance(1); // far from the tap, so the next press is no double tap
    press(0.3);
    settle();
    EXPECT_EQ(paster.pastes.size(), 1u);
    EXPECT_EQ(results.size(), 1u);
}

TEST_F(ControllerTest, TwoQuickTapsRecordHandsFreeUntilTheNextPress) {
    press(0.1);
    advance(0.3);
    controller->keyDown();
    const auto secondPress = clock->now();
    advance(0.1);
    controller->keyUp();
    EXPECT_TRUE(controller->isHandsFree());
    EXPECT_TRUE(controller->isRecording());
    EXPECT_EQ(controller->state().hint(), "Hands-free. Tap right Alt to finish, esc to cancel");
    EXPECT_EQ(recorder->starts, 2);

    advance(4);
    controller->keyUp(); // releases are ignored while hands-free
    EXPECT_TRUE(controller->isRecording());
    controller->keyDown();
    EXPECT_FALSE(controller->isHandsFree());
    EXPECT_EQ(controller->state().hint(), "") << "the working pill says it is working";
    controller->keyUp();
    settle();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NEAR(results[0].seconds,
                std::chrono::duration<double>(clock->now() - secondPress).count(), 1e-6);
    EXPECT_EQ(recorder->starts, 2) << "the ending press starts nothing";
}

TEST_F(ControllerTest, AToggleRecordsHandsFreeUntilTheNextToggleOrPress) {
    controller->toggle();
    EXPECT_TRUE(controller->isRecording());
    EXPECT_TRUE(controller->isHandsFree());
    advance(3);
    controller->keyUp();
    EXPECT_TRUE(controller->isRecording()) << "no release ends a toggled recording";
    controller->toggle();
    settle();
    EXPECT_FALSE(controller->isRecording());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NEAR(results[0].seconds, 3.0, 1e-6);

    // A toggle while the key is held finishes that recording too.
    controller->keyDown();
    advance(2);
    controller->toggle();
    settle();
    EXPECT_FALSE(controller->isRecording());
    EXPECT_EQ(results.size(), 2u);
    EXPECT_EQ(recorder->starts, 2);
}

TEST_F(ControllerTest, TapsFartherApartThanTheGapStayTaps) {
    press(0.1);
    advance(0.5);
    press(0.1);
    EXPECT_FALSE(controller->isHandsFree());
    EXPECT_FALSE(controller->isRecording());
    // The second tap counts as a first one: a third quick tap makes the pair.
    advance(0.2);
    press(0.1);
    EXPECT_TRUE(controller->isHandsFree());
}

TEST_F(ControllerTest, HandsFreeEndsAfterFiveMinutesOrIsDiscardedByEscape) {
    press(0.1);
    advance(0.2);
    press(0.1);
    ASSERT_TRUE(controller->isHandsFree());
    advance(299);
    EXPECT_TRUE(controller->isRecording());
    advance(1.5);
    settle();
    EXPECT_FALSE(controller->isRecording());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NEAR(results[0].seconds, 300.0, 0.2);

    advance(1);
    press(0.1);
    advance(0.2);
    press(0.1);
    ASSERT_TRUE(controller->isHandsFree());
    advance(3);
    controller->cancel();
    settle();
    EXPECT_FALSE(controller->isRecording());
    EXPECT_FALSE(controller->isHandsFree());
    EXPECT_EQ(results.size(), 1u) << "escape leaves no record";
    EXPECT_EQ(paster.pastes.size(), 1u);
    EXPECT_FALSE(shown());
    advance(400);
    EXPECT_EQ(scheduler.pending(), 0u) << "no timer outlives the recording";
}

TEST_F(ControllerTest, TheNextDictationIntoTheSameAppSoonStartsWithASpace) {
    dictate();
    advance(60);
    dictate();
    controller->userActed();
    dictate();
    windows.front->appName = "Terminal";
    dictate();
    advance(121);
    dictate();
    std::vector<std::string> texts;
    for (const auto& [text, secure] : paster.pastes) {
        texts.push_back(text);
    }
    const std::string t = "So send it Tuesday.";
    EXPECT_EQ(texts, (std::vector<std::string>{t, " " + t, t, t, t}));
}

TEST_F(ControllerTest, APasswordFieldIsTypedConcealedAndLeavesNothingBehind) {
    LogCapture log;
    int asked = 0;
    controller->formatting = [&](AppGroup) {
        ++asked;
        return std::optional(Controller::Formatting{WritingStyle::lowercase, {}});
    };
    dictate(); // the joiner now expects a space for the same app
    focus.secure.insert(1);
    results.clear();
    controller->keyDown();
    advance(2);
    EXPECT_EQ(scheduler.pending(), 0u) << "no live words for a password";
    controller->keyUp();
    settle();
    ASSERT_EQ(paster.pastes.size(), 2u);
    EXPECT_EQ(paster.pastes[1], std::make_pair(std::string("So send it Tuesday."), true));
    EXPECT_EQ(asked, 1) << "no style or snippets for a password";
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(log.contains("not saved: a password field was in use"));
    const std::string csv = readAll(runs());
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2) << "header and the first row only";

    engine.fails = true;
    dictate();
    EXPECT_FALSE(controller->retryJob()) << "a password is never kept for a retry";
    EXPECT_TRUE(results.empty());
}

TEST_F(ControllerTest, LiveWordsShowWhatIsHeardAndSpareTheFinalSpeechCheck) {
    std::vector<QString> words;
    QObject::connect(&controller->state(), &DictationState::wordsChanged,
                     [&](const QString& w) { words.push_back(w); });
    controller->keyDown();
    advance(0.8);
    settle();
    EXPECT_EQ(recorder->lastSnapshot, 12.0);
    EXPECT_EQ(words, std::vector<QString>{"so send it"});
    EXPECT_EQ(controller->state().words(), "so send it");
    advance(0.9);
    controller->keyUp();
    settle();
    EXPECT_EQ(finalChecks(), 0) << "speech was heard: no final check";
    EXPECT_EQ(paster.pastes.size(), 1u);

    // Silence while recording: the final check runs.
    const int attempts = engine.attempts;
    silent = true;
    controller->keyDown();
    advance(1);
    settle(); // the live words' silent answer arrives before the release
    controller->keyUp();
    settle();
    EXPECT_EQ(finalChecks(), 1);
    EXPECT_EQ(engine.attempts, attempts) << "silent snapshots are not transcribed";
}

TEST_F(ControllerTest, LiveWordsRunOnlyWhenTheEngineKeepsUpAndGiveWayToTheFinalText) {
    // Too slow for the interval: the pill shows the level alone, and the final text is checked
    // for speech itself.
    engine.fastEnough = false;
    controller->keyDown();
    advance(0.8 * 3);
    settle();
    EXPECT_EQ(engine.attempts, 0);
    EXPECT_TRUE(controller->state().words().isEmpty());
    ASSERT_FALSE(engine.asked.empty());
    EXPECT_DOUBLE_EQ(engine.asked.back().first, 100.0 / 16000) << "the snapshot's length";
    EXPECT_DOUBLE_EQ(engine.asked.back().second, Controller::liveWordsInterval);
    controller->keyUp();
    settle();
    EXPECT_EQ(finalChecks(), 1);
    ASSERT_EQ(paster.pastes.size(), 1u);
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"give way", "transcribe"}));

    // Fast enough: live words, and at the release the previews make way before the final
    // transcription is asked for.
    engine.fastEnough = true;
    engine.calls.clear();
    controller->keyDown();
    advance(0.8);
    settle();
    controller->keyUp();
    settle();
    EXPECT_EQ(engine.calls,
              (std::vector<std::string>{"preview", "attempt", "give way", "transcribe"}));
    EXPECT_EQ(paster.pastes.size(), 2u);
}

TEST_F(ControllerTest, WordsHeardForAnEarlierRecordingStayOffThePill) {
    std::vector<QString> words;
    QObject::connect(&controller->state(), &DictationState::wordsChanged, [&](const QString& w) {
        if (!w.isEmpty()) {
            words.push_back(w);
        }
    });
    controller->keyDown();
    advance(0.8); // a live transcription is queued...
    controller->cancel();
    controller->keyDown(); // ...and a new recording starts before it answers
    settle();
    EXPECT_TRUE(words.empty());
    EXPECT_TRUE(controller->state().words().isEmpty());
}

TEST_F(ControllerTest, SilenceAndEmptyTranscriptsAreRecordedAndCanBeRetried) {
    LogCapture log;
    silent = true;
    dictate(2);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, Outcome::silent);
    EXPECT_EQ(results[0].problem, "No speech found");
    EXPECT_EQ(results[0].text, "");
    EXPECT_EQ(results[0].totalMs, 0);
    EXPECT_TRUE(engine.transcribed.empty());
    EXPECT_TRUE(paster.pastes.empty());
    EXPECT_FALSE(shown());
    EXPECT_TRUE(log.contains("Editor: 2.0s audio, no speech found"));
    EXPECT_TRUE(controller->canRetry());

    // A retry skips the speech check and types what the engine hears now.
    controller->retryLast();
    settle();
    EXPECT_EQ(finalChecks(), 1);
    EXPECT_EQ(paster.pastes.size(), 1u);
    EXPECT_FALSE(controller->retryJob());

    silent = false;
    engine.transcript = " [BLANK_AUDIO] ";
    dictate();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[2].problem, "No words found");
    EXPECT_EQ(results[2].outcome, Outcome::silent);
}

TEST_F(ControllerTest, AFailedTranscriptionShowsTheErrorAndOffersARetryForTenMinutesInThatApp) {
    LogCapture log;
    engine.fails = true;
    dictate();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, Outcome::failed);
    EXPECT_EQ(results[0].problem, "Couldn't transcribe that");
    EXPECT_TRUE(log.contains("failed: process: no reply from whisper"));
    EXPECT_EQ(controller->state().phase(), Phase::error);
    EXPECT_EQ(controller->state().errorText(), "Couldn't transcribe that");
    EXPECT_TRUE(shown());

    EXPECT_TRUE(controller->canRetry());
    windows.front->appName = "Terminal";
    EXPECT_FALSE(controller->canRetry()) << "only from the app it was meant for";
    windows.front->appName = "Editor";
    advance(599);
    EXPECT_TRUE(controller->canRetry());
    advance(1);
    EXPECT_FALSE(controller->canRetry());
    EXPECT_FALSE(controller->retryJob()) << "forgotten once the time is up";
    controller->retryLast();
    settle();
    EXPECT_EQ(engine.transcribed.size(), 1u) << "nothing to retry";

    // Once the engine answers again, the next dictation types.
    engine.fails = false;
    dictate();
    EXPECT_EQ(paster.pastes.size(), 1u);
}

TEST_F(ControllerTest, AnOldJobsEndLeavesTheNewRecordingsPillAlone) {
    engine.fails = true;
    press(1);
    controller->keyDown(); // before the first job's result arrives
    settle();
    EXPECT_EQ(results.size(), 1u);
    EXPECT_EQ(controller->state().phase(), Phase::listening);
    EXPECT_TRUE(shown());

    // Nor once the newer recording is over: the pill belongs to the newer session.
    controller->cancel();
    press(1);
    advance(1);
    press(0.1); // a tap hides the pill, and the failed job's answer comes after it
    settle();
    EXPECT_EQ(results.size(), 2u);
    EXPECT_NE(controller->state().phase(), Phase::error);
    EXPECT_FALSE(shown());
}

TEST_F(ControllerTest, AFailingFormattingHookFailsTheDictationNotTheProgram) {
    LogCapture log;
    controller->formatting = [](AppGroup) -> std::optional<Controller::Formatting> {
        throw std::runtime_error("the snippets could not be read");
    };
    dictate();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, Outcome::failed);
    EXPECT_EQ(results[0].problem, "Couldn't transcribe that");
    EXPECT_TRUE(log.contains("failed: the snippets could not be read"));
    EXPECT_TRUE(paster.pastes.empty());
    EXPECT_TRUE(controller->canRetry());
}

TEST_F(ControllerTest, AMicrophoneThatWontStartShowsTheErrorAndTheNextPressWorks) {
    LogCapture log;
    recorder->fails = true;
    controller->keyDown();
    EXPECT_FALSE(controller->isRecording());
    EXPECT_TRUE(log.contains("could not start recording: audio: no source to record from"));
    EXPECT_EQ(controller->state().errorText(), "Can't use the microphone");
    EXPECT_TRUE(recordingChanges.empty());
    controller->keyUp();

    recorder->fails = false;
    dictate();
    EXPECT_EQ(paster.pastes.size(), 1u);
}

TEST_F(ControllerTest, AMicrophoneChangeEndsTheRecordingAndKeepsWhatWasSaid) {
    LogCapture log;
    controller->keyDown();
    advance(1);
    recorder->onInterrupted();
    settle();
    EXPECT_TRUE(log.contains("microphone changed while recording"));
    EXPECT_FALSE(controller->isRecording());
    EXPECT_EQ(paster.pastes.size(), 1u);
    controller->keyUp(); // the release that follows changes nothing
    settle();
    EXPECT_EQ(paster.pastes.size(), 1u);
}

TEST_F(ControllerTest, ACaptureTargetTakesTheSamplesInsteadOfDictation) {
    std::vector<std::size_t> captured;
    controller->captureTarget = [&] {
        return std::optional<Controller::SampleReceiver>(
            [&](Controller::Samples s) { captured.push_back(s.size()); });
    };
    dictate(2);
    EXPECT_EQ(captured, std::vector<std::size_t>{2000});
    EXPECT_TRUE(engine.transcribed.empty());
    EXPECT_EQ(engine.attempts, 0) << "no live words either";
    EXPECT_TRUE(results.empty());
    EXPECT_FALSE(shown());
}

TEST_F(ControllerTest, AnUnwritableTimingLogIsLoggedAndTheTextStillArrives) {
    LogCapture log;
    std::filesystem::create_directories(runs()); // a folder where the file should be
    SettingsFile(folder / "settings.ini").set(SettingKeys::playSound, false);
    dictate();
    EXPECT_EQ(paster.pastes.size(), 1u);
    EXPECT_EQ(results.size(), 1u);
    EXPECT_TRUE(log.contains("could not write timing log: ")) << log.text();
    EXPECT_EQ(sounds, 0);
}

TEST_F(ControllerTest, AWallClockStepNeitherDropsAHoldNorKeepsATap) {
    // NTP or a suspend moves the wall-clock an hour back while the key is held.
    controller->keyDown();
    advance(1.5);
    clock->set(clock->now() - 1h);
    controller->keyUp();
    settle();
    ASSERT_EQ(paster.pastes.size(), 1u) << "a held key is measured on the uptime";

    // And an hour forward during a tap.
    advance(5);
    controller->keyDown();
    advance(0.1);
    clock->set(clock->now() + 1h);
    controller->keyUp();
    settle();
    EXPECT_EQ(paster.pastes.size(), 1u);
    EXPECT_FALSE(controller->isRecording());
}

TEST_F(ControllerTest, EveryViewSeesListeningWorkingAndTheEnd) {
    std::vector<Phase> phases;
    std::vector<float> levels;
    QObject::connect(&controller->state(), &DictationState::phaseChanged,
                     [&](Phase phase) { phases.push_back(phase); });
    QObject::connect(&controller->state(), &DictationState::levelChanged,
                     [&](float level) { levels.push_back(level); });

    controller->keyDown();
    recorder->onLevel(0.4f);
    EXPECT_FLOAT_EQ(controller->state().level(), 0.4f);
    advance(0.8); // the first live words
    settle();
    EXPECT_EQ(controller->state().words(), "so send it");
    advance(0.7);
    controller->keyUp();
    EXPECT_EQ(controller->state().phase(), Phase::working);
    EXPECT_TRUE(controller->state().words().isEmpty()) << "the live words end with the recording";
    recorder->onLevel(0.9f); // a late block of audio
    settle();
    EXPECT_EQ(phases, (std::vector<Phase>{Phase::listening, Phase::working, Phase::idle}));
    EXPECT_EQ(levels, std::vector<float>{0.4f}) << "levels only while listening";
    EXPECT_FALSE(controller->state().canRetry());
}

TEST_F(ControllerTest, RetryIsPublishedWhileAFailedDictationIsKept) {
    engine.fails = true;
    dictate();
    EXPECT_EQ(controller->state().phase(), Phase::error);
    EXPECT_EQ(controller->state().errorText(), "Couldn't transcribe that");
    EXPECT_TRUE(controller->state().canRetry());

    controller->forgetRetry();
    EXPECT_FALSE(controller->state().canRetry()) << "delete all forgets it";

    dictate();
    EXPECT_TRUE(controller->state().canRetry());
    advance(Controller::retrySeconds);
    EXPECT_FALSE(controller->state().canRetry()) << "kept for ten minutes";

    dictate();
    engine.fails = false;
    controller->retryLast();
    EXPECT_FALSE(controller->state().canRetry());
    settle();
    EXPECT_EQ(controller->state().phase(), Phase::idle);
    EXPECT_EQ(paster.pastes.size(), 1u);
}

} // namespace
