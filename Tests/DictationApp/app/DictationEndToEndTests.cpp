// The built parlwick in terminal mode, used as a user would: a private X11 desktop with a window
// manager and AT-SPI, a PulseAudio microphone fed with espeak-ng speech, the real whisper-server
// and voice-activity tool with generated models, xdotool holding right Alt over a GTK field.

#include "AudioTools.h"
#include "DesktopSupport.h"
#include "TestModels.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

namespace {

using namespace DesktopSupport;
namespace fs = std::filesystem;

// The generated speech model answers this whatever it hears; espeak-ng says the same.
const std::string spoken = "um so first buy milk second call Anna sorry Maria new paragraph thanks";
// Terminal mode cleans (filler, capital) but does no app-specific layout.
const std::string typed = "So first buy milk second call Anna sorry Maria new paragraph thanks";
const std::vector<std::string> dictatedWords{"milk", "Anna", "Maria", "paragraph", "thanks"};

class DictationEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = missingDesktop(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        if (const std::string missing =
                missingPrograms({"whisper-server", "whisper-vad-speech-segments", "pulseaudio",
                                 "pactl", "paplay", "pacat", "espeak-ng", "sox", "xdotool"});
            !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        application();
        fs::create_directories(work / "models");
        TestModels::writeWhisper(work / "models" / "ggml-large-v3-turbo-q5_0.bin", spoken);
        TestModels::writeVoiceActivity(work / "models" / "ggml-silero-v5.1.2.bin");
        writeSpeech(work / "speech.wav", spoken);
        pulse = std::make_unique<PulseServer>(work / "pulse");
        fields =
            std::make_unique<FieldsWindow>(FieldsWindow::Toolkit::gtk, "Shopping Notes", "Notes");
        ASSERT_TRUE(fields->ready()) << "the GTK fields window did not appear";
    }

    void TearDown() override {
        if (parlwick) {
            parlwick->end(SIGTERM);
        }
        if (HasFailure()) {
            std::fprintf(stderr, "parlwick's log:\n%s\n", logText().c_str());
        }
    }

    // Starts parlwick in the work folder (its models and runs.csv live there) and waits until
    // it listens for the record key.
    void start(const std::vector<std::pair<std::string, std::string>>& environment = {}) {
        fs::current_path(work.path());
        auto env = environment;
        env.insert(env.end(), {{"XDG_CONFIG_HOME", (work / "config").string()},
                               {"XDG_DATA_HOME", (work / "data").string()},
                               {"XDG_STATE_HOME", (work / "state").string()},
                               {"GGML_NO_BACKTRACE", "1"}});
        parlwick = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{PARLWICK_EXECUTABLE}, env, log().string());
        ASSERT_TRUE(waitUntil(
            [&] { return logText().find("ready. hold right Alt to talk") != std::string::npos; },
            30))
            << logText();
    }

    fs::path log() const { return work / "parlwick.log"; }
    std::string logText() const { return readAll(log()); }
    fs::path runs() const { return work / "runs.csv"; }
    std::size_t rows() const {
        const std::string csv = readAll(runs());
        const auto lines = static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n'));
        return lines == 0 ? 0 : lines - 1;
    }
    std::size_t logCount(const std::string& line) const { return occurrences(logText(), line); }

    void keyDown() { xdotool({"keydown", "Alt_R"}); }
    void keyUp() { xdotool({"keyup", "Alt_R"}); }
    void speak() {
        pulse->play(work / "speech.wav");
        pulse->waitForPlay();
    }
    // Holds right Alt while the speech plays (or while nothing does, for silence).
    void holdAndSpeak(bool withSpeech = true) {
        keyDown();
        spin(0.4);
        if (withSpeech) {
            speak();
        } else {
            spin(2);
        }
        spin(0.3);
        keyUp();
    }
    // A quick tap of the record key, or two, sent by one xdotool so that no program start-up
    // stretches the taps.
    void tap() { xdotool({"keydown", "Alt_R", "sleep", "0.04", "keyup", "Alt_R"}); }
    void doubleTap() {
        xdotool({"keydown", "Alt_R", "sleep", "0.04", "keyup", "Alt_R", "sleep", "0.12", "keydown",
                 "Alt_R", "sleep", "0.04", "keyup", "Alt_R"});
    }
    // Waits for the pipeline to log its summary of the `n`th dictation.
    bool waitForDictations(std::size_t n, double seconds = 30) {
        return waitUntil([&] { return logCount("s audio, ") >= n; }, seconds);
    }
    bool pillVisible() {
        return !run("xdotool", {"search", "--onlyvisible", "--name", "^Dictation$"}, 5).empty();
    }
    // The speech engines parlwick runs, each under a small shell of ours.
    std::vector<pid_t> speechEngines() const {
        std::vector<pid_t> engines;
        for (pid_t shell : childrenOf(parlwick->pid())) {
            for (pid_t child : childrenOf(shell)) {
                if (commandOf(child).find("whisper-server") != std::string::npos) {
                    engines.push_back(child);
                }
            }
        }
        return engines;
    }
    void expectNoDictatedWords() {
        const std::string logged = logText();
        const std::string csv = readAll(runs());
        for (const auto& word : dictatedWords) {
            EXPECT_EQ(logged.find(word), std::string::npos) << word << " in the log:\n" << logged;
            EXPECT_EQ(csv.find(word), std::string::npos) << word << " in runs.csv:\n" << csv;
        }
    }

    TempDir work;
    std::unique_ptr<PulseServer> pulse;
    std::unique_ptr<FieldsWindow> fields;
    std::unique_ptr<BackgroundProcess> parlwick;
};

TEST_F(DictationEndToEnd, HeldKeyTypesTheCleanedTextAndLogsNoWords) {
    start();
    fields->focus("normal");
    holdAndSpeak();
    EXPECT_EQ(fields->waitForText("normal", typed, 30), typed) << logText();

    ASSERT_TRUE(waitUntil([&] { return rows() == 1; }, 10)) << readAll(runs());
    const std::string csv = readAll(runs());
    EXPECT_EQ(csv.rfind("timestamp,audio_s,words,asr_ms,llm_ms,total_ms,app\n", 0), 0u) << csv;
    EXPECT_NE(csv.find(",13,"), std::string::npos) << "thirteen words heard: " << csv;
    EXPECT_NE(csv.find(",\"Notes\"\n"), std::string::npos) << csv;
    EXPECT_NE(logText().find("Notes: "), std::string::npos);
    EXPECT_NE(logText().find(" 13 words, asr "), std::string::npos) << logText();
    expectNoDictatedWords();
}

TEST_F(DictationEndToEnd, APressShorterThanThreeTenthsTypesNothing) {
    start();
    fields->focus("normal");
    tap();
    speak();
    spin(2);
    EXPECT_EQ(fields->text("normal"), "");
    EXPECT_EQ(rows(), 0u);
    EXPECT_EQ(logCount("s audio, "), 0u) << logText();
}

TEST_F(DictationEndToEnd, ADoubleTapRecordsHandsFreeUntilTheThirdPress) {
    start();
    fields->focus("normal");
    doubleTap();
    spin(0.3);
    speak(); // the key is up all this time
    spin(0.3);
    tap();
    EXPECT_EQ(fields->waitForText("normal", typed, 30), typed) << logText();
    EXPECT_EQ(rows(), 1u);
}

TEST_F(DictationEndToEnd, EscapeDuringHandsFreeDiscardsTheRecording) {
    start();
    fields->focus("normal");
    doubleTap();
    spin(0.3);
    speak();
    xdotool({"key", "Escape"});
    spin(3);
    EXPECT_EQ(fields->text("normal"), "");
    EXPECT_EQ(logCount("s audio, "), 0u) << logText();
    EXPECT_FALSE(pillVisible());

    // The next dictation works as usual.
    holdAndSpeak();
    EXPECT_EQ(fields->waitForText("normal", typed, 30), typed) << logText();
}

TEST_F(DictationEndToEnd, ASecondDictationIntoTheSameFieldSoonStartsWithASpace) {
    start();
    fields->focus("normal");
    holdAndSpeak();
    ASSERT_EQ(fields->waitForText("normal", typed, 30), typed) << logText();
    holdAndSpeak();
    const std::string twice = typed + " " + typed;
    EXPECT_EQ(fields->waitForText("normal", twice, 30), twice) << logText();
    EXPECT_TRUE(waitUntil([&] { return rows() == 2; }, 10));
}

TEST_F(DictationEndToEnd, APasswordFieldGetsTheTextButNoRecord) {
    start();
    fields->focus("password");
    holdAndSpeak();
    EXPECT_EQ(fields->waitForText("password", typed, 30), typed) << logText();
    EXPECT_TRUE(
        waitUntil([&] { return logCount("not saved: a password field was in use") == 1; }, 10))
        << logText();
    EXPECT_EQ(rows(), 0u) << readAll(runs());
    expectNoDictatedWords();
}

TEST_F(DictationEndToEnd, SilenceTypesNothing) {
    start();
    fields->focus("normal");
    holdAndSpeak(false);
    ASSERT_TRUE(waitForDictations(1)) << logText();
    EXPECT_NE(logText().find("Notes: "), std::string::npos);
    EXPECT_NE(logText().find("s audio, no speech found"), std::string::npos) << logText();
    spin(1);
    EXPECT_EQ(fields->text("normal"), "");
    EXPECT_EQ(rows(), 0u);
}

TEST_F(DictationEndToEnd, AKilledSpeechServerIsStartedAgainByTheNextDictation) {
    start();
    fields->focus("normal");
    holdAndSpeak();
    ASSERT_EQ(fields->waitForText("normal", typed, 30), typed) << logText();

    const std::vector<pid_t> servers = speechEngines();
    ASSERT_EQ(servers.size(), 1u) << "one speech engine runs";
    ::kill(servers[0], SIGKILL);
    ASSERT_TRUE(eventually([&] { return !processIsAlive(servers[0]); }, 5));

    holdAndSpeak();
    const std::string twice = typed + " " + typed;
    EXPECT_EQ(fields->waitForText("normal", twice, 60), twice) << logText();
}

TEST_F(DictationEndToEnd, AFailingSpeechServerShowsTheErrorAndTheNextDictationTypesAgain) {
    // First on the search path: a server that answers every request with an error until the
    // "healthy" file appears, then the real one.
    const fs::path bin = work / "bin";
    writeAll(bin / "whisper-server", "#!/bin/sh\n"
                                     "if [ -e '" +
                                         (work / "healthy").string() +
                                         "' ]; then\n"
                                         "  exec '" +
                                         findProgram("whisper-server") +
                                         "' \"$@\"\n"
                                         "fi\n"
                                         "STAND_IN_MODE=error exec '" STAND_IN_SERVER "' \"$@\"\n");
    fs::permissions(bin / "whisper-server", fs::perms::owner_all);
    start({{"PATH", bin.string() + ":" + std::getenv("PATH")}});
    fields->focus("normal");

    holdAndSpeak();
    ASSERT_TRUE(waitForDictations(1)) << logText();
    EXPECT_NE(logText().find("s audio, couldn't transcribe that"), std::string::npos) << logText();
    EXPECT_TRUE(waitUntil(
        [&] { return logText().find("whisper failed to start: ") != std::string::npos; }, 10))
        << "the warm-up reports the failure: " << logText();
    EXPECT_NE(logText().find("] failed: "), std::string::npos) << logText();
    EXPECT_TRUE(waitUntil([&] { return pillVisible(); }, 2))
        << "the pill shows the error for three seconds";
    EXPECT_EQ(fields->text("normal"), "");
    EXPECT_EQ(rows(), 0u);

    writeAll(work / "healthy", "");
    holdAndSpeak();
    EXPECT_EQ(fields->waitForText("normal", typed, 60), typed) << logText();
    EXPECT_TRUE(parlwick->isRunning());
}

TEST_F(DictationEndToEnd, QuittingEndsTheSpeechEngine) {
    start();
    ASSERT_TRUE(eventually([&] { return speechEngines().size() == 1; }, 30))
        << "the warm-up starts the engine: " << logText();
    const pid_t engine = speechEngines()[0];
    const int status = parlwick->end(SIGTERM);
    parlwick.reset();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(eventually([&] { return !processIsAlive(engine); }, 10));
}

TEST_F(DictationEndToEnd, TheAudioServerGoingAwayEndsTheRecordingAndTheAppCarriesOn) {
    start();
    fields->focus("normal");
    keyDown();
    spin(0.4);
    pulse->play(work / "speech.wav");
    spin(2);
    pulse->kill();
    ASSERT_TRUE(waitForDictations(1)) << logText();
    EXPECT_NE(logText().find("microphone changed while recording"), std::string::npos);
    // The paste waits for the user to let go of every modifier.
    keyUp();
    EXPECT_EQ(fields->waitForText("normal", typed, 30), typed) << "what was said is kept";

    // No microphone at all now: the press is refused and the app keeps running.
    keyDown();
    EXPECT_TRUE(waitUntil([&] { return logCount("could not start recording: ") == 1; }, 10))
        << logText();
    keyUp();
    EXPECT_TRUE(waitUntil([&] { return pillVisible(); }, 2))
        << "the pill shows that the microphone can't be used";
    spin(0.5);
    EXPECT_TRUE(parlwick->isRunning());
    EXPECT_EQ(fields->text("normal"), typed);
}

TEST_F(DictationEndToEnd, AWindowThatClosesBeforeDeliveryLosesNothingElse) {
    start();
    fields->focus("normal");
    holdAndSpeak();
    fields->close();
    ASSERT_TRUE(waitForDictations(1)) << logText();
    spin(2.5); // the paste checks and the clipboard's return
    EXPECT_TRUE(parlwick->isRunning());

    // The title differs from the class: GTK names a hidden window after the class, and xdotool
    // matches names ignoring case.
    FieldsWindow letters(FieldsWindow::Toolkit::gtk, "Second Window", "Letters");
    ASSERT_TRUE(letters.ready());
    letters.focus("normal");
    holdAndSpeak();
    EXPECT_EQ(letters.waitForText("normal", typed, 30), typed) << logText();
}

// Quitting while a long text is being typed: the keycodes borrowed for typing go back, so the
// keyboard is exactly as it was before the program started.
TEST_F(DictationEndToEnd, QuittingWhileTypingGivesTheKeyboardBack) {
    // Each keycode's symbols, one line a key, as the X server has them.
    const auto keymap = [] {
        std::istringstream dump(run("xkbcomp", {"-xkb", std::getenv("DISPLAY"), "-"}, 10));
        std::vector<std::string> keys;
        for (std::string line; std::getline(dump, line);) {
            if (line.find("key <") != std::string::npos) {
                keys.push_back(line);
            }
        }
        std::sort(keys.begin(), keys.end());
        return keys;
    };
    const auto before = keymap();
    ASSERT_GT(before.size(), 50u) << "xkbcomp shows the keymap";
    // More distinct characters than there are keycodes to lend: every one is a keymap change.
    std::string sentence;
    for (int word = 0; word < 12; ++word) {
        sentence += word ? " " : "";
        sentence += "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    }
    TestModels::writeWhisper(work / "models" / "ggml-large-v3-turbo-q5_0.bin", sentence);
    start();
    fields->focus("nopaste"); // the paste is ignored, so the text is typed
    holdAndSpeak();
    ASSERT_TRUE(waitUntil([&] { return fields->text("nopaste").size() >= 10; }, 30)) << logText();
    const int status = parlwick->end(SIGTERM);
    parlwick.reset();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string typedSoFar = fields->text("nopaste");
    EXPECT_LT(typedSoFar.size(), sentence.size()) << "typing was still going on";
    const auto after = keymap();
    std::vector<std::string> changed;
    std::set_symmetric_difference(before.begin(), before.end(), after.begin(), after.end(),
                                  std::back_inserter(changed));
    EXPECT_TRUE(changed.empty()) << "keys left changed:\n" << testing::PrintToString(changed);
}

// Without an X display parlwick waits, checking every second, and listens once one appears.
TEST_F(DictationEndToEnd, TheRecordKeyWorksOnceADisplayAppears) {
    std::string display;
    for (int attempt = 0; attempt < 50 && display.empty(); ++attempt) {
        display = unusedDisplay(attempt, 700, 250);
    }
    ASSERT_FALSE(display.empty()) << "no free display number";
    fs::current_path(work.path());
    parlwick =
        std::make_unique<BackgroundProcess>(std::vector<std::string>{PARLWICK_EXECUTABLE},
                                            std::vector<std::pair<std::string, std::string>>{
                                                {"DISPLAY", display},
                                                {"XDG_CONFIG_HOME", (work / "config").string()},
                                                {"XDG_DATA_HOME", (work / "data").string()},
                                                {"GGML_NO_BACKTRACE", "1"}},
                                            log().string());
    ASSERT_TRUE(waitUntil(
        [&] {
            return logText().find("waiting for accessibility permission: ") != std::string::npos;
        },
        20))
        << logText();
    spin(1.5);
    EXPECT_EQ(logText().find("ready. hold"), std::string::npos);
    EXPECT_TRUE(parlwick->isRunning());

    BackgroundProcess xvfb({findProgram("Xvfb"), display, "-screen", "0", "800x600x24", "-nolisten",
                            "tcp", "-noreset"});
    EXPECT_TRUE(waitUntil(
        [&] { return logText().find("ready. hold right Alt to talk") != std::string::npos; }, 10))
        << logText();
    parlwick->end(SIGTERM);
    parlwick.reset();
}

} // namespace
