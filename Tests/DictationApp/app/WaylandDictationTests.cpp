// The built parlwick in terminal mode on a Wayland desktop without Xwayland, used as a user of
// sway would: headless sway with the record key bound to parlwick's bus commands, a GTK 4
// window, a PulseAudio microphone fed with espeak-ng speech, the real whisper-server and
// voice-activity tool with generated models, wtype as the user's hands.

#include "AudioTools.h"
#include "TestModels.h"
#include "WaylandSupport.h"

#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

using namespace WaylandSupport;
namespace fs = std::filesystem;

// The generated speech model answers this whatever it hears.
const std::string spoken =
    "um so the na\u00efve caf\u00e9 \u2013 \u65e5\u672c \U0001F3A4 was great";
// Terminal mode drops the filler and capitalises.
const std::string typed = "So the na\u00efve caf\u00e9 \u2013 \u65e5\u672c \U0001F3A4 was great";

std::vector<std::string> dbusSend(const std::string& method) {
    return {"dbus-send",
            "--session",
            "--type=method_call",
            "--dest=org.parlwick.Parlwick",
            "/org/parlwick/Parlwick/RecordKey",
            "org.parlwick.Parlwick.RecordKey." + method};
}

class WaylandDictation : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = missingWayland(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        if (const std::string missing =
                missingPrograms({"whisper-server", "whisper-vad-speech-segments", "pulseaudio",
                                 "pactl", "paplay", "pacat", "espeak-ng", "sox", "dbus-send"});
            !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        application();
        ASSERT_EQ(std::getenv("DISPLAY"), nullptr) << "no Xwayland: the Wayland paths alone";
        fs::create_directories(work / "models");
        TestModels::writeWhisper(work / "models" / "ggml-large-v3-turbo-q5_0.bin", spoken);
        TestModels::writeVoiceActivity(work / "models" / "ggml-silero-v5.1.2.bin");
        writeSpeech(work / "speech.wav", "so the naive cafe was great");
        pulse = std::make_unique<PulseServer>(work / "pulse");
        // The README's lines for sway, run as this test's user.
        ASSERT_TRUE(bindCommand("--no-repeat Alt_R", dbusSend("Start")));
        ASSERT_TRUE(bindCommand("--release Alt_R", dbusSend("Stop")));
        ASSERT_TRUE(bindCommand("Ctrl+Alt+d", dbusSend("Toggle")));
        // A desktop entry names the app, as installed apps have.
        fs::create_directories(work / "data" / "applications");
        writeAll(work / "data" / "applications" / "org.parlwick.Notes.desktop",
                 "[Desktop Entry]\nType=Application\nName=Notes\nExec=notes\n");
        window = std::make_unique<Gtk4Window>("Shopping", "org.parlwick.Notes");
        ASSERT_TRUE(window->ready()) << "the GTK 4 window did not get the focus";
    }

    void TearDown() override {
        if (parlwick) {
            parlwick->end(SIGTERM);
        }
        if (HasFailure()) {
            std::fprintf(stderr, "parlwick's log:\n%s\n", logText().c_str());
        }
    }

    void start() {
        fs::current_path(work.path());
        // Qt 6.4's Wayland platform keeps the compositor's globals until exit, allocated in
        // libwayland-client with no frame of Qt's for a fast unwinder to see. Our own Wayland
        // objects are held to LeakSanitizer by the backends' tests, which load no Qt platform.
        writeAll(work / "lsan.supp", readAll(LSAN_SUPPRESSIONS) + "leak:libwayland-client.so\n");
        parlwick = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{PARLWICK_EXECUTABLE},
            std::vector<std::pair<std::string, std::string>>{
                {"XDG_CONFIG_HOME", (work / "config").string()},
                {"XDG_DATA_HOME", (work / "data").string()},
                {"XDG_STATE_HOME", (work / "state").string()},
                {"GGML_NO_BACKTRACE", "1"},
                {"LSAN_OPTIONS", "suppressions=" + (work / "lsan.supp").string()}},
            log().string());
        ASSERT_TRUE(waitUntil([&] { return contains("ready. hold right Alt to talk"); }, 30))
            << logText();
    }

    fs::path log() const { return work / "parlwick.log"; }
    std::string logText() const { return readAll(log()); }
    bool contains(const std::string& text) const {
        return logText().find(text) != std::string::npos;
    }
    std::size_t rows() const {
        const std::string csv = readAll(work / "runs.csv");
        const auto lines = static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n'));
        return lines == 0 ? 0 : lines - 1;
    }

    // Moves the keyboard to a field, and gives the focus event time to reach parlwick over
    // the accessibility bus, as a user's pause before speaking does.
    void focus(const std::string& field) {
        window->focus(field);
        spin(0.5);
    }

    // Holds right Alt on the keyboard while the speech plays: one wtype for the press and
    // the release, so its keyboard lives as long as the key is down.
    void holdAndSpeak() {
        QProcess hands;
        hands.start("wtype", {"-P", "Alt_R", "-s", "4500", "-p", "Alt_R"});
        ASSERT_TRUE(hands.waitForStarted());
        spin(0.6);
        pulse->play(work / "speech.wav");
        pulse->waitForPlay();
        ASSERT_TRUE(waitUntil([&] { return hands.state() == QProcess::NotRunning; }, 15));
    }

    TempDir work;
    std::unique_ptr<PulseServer> pulse;
    std::unique_ptr<Gtk4Window> window;
    std::unique_ptr<BackgroundProcess> parlwick;
};

TEST_F(WaylandDictation, AHeldKeyPastesTheTextAndTheClipboardComesBackAfterTheRead) {
    copyElsewhere("what the user copied");
    start();
    EXPECT_TRUE(contains("wayland desktop: record key: bus commands; typing: virtual keyboard; "
                         "clipboard: zwlr_data_control_manager_v1; front app: foreign toplevels"))
        << logText();
    focus("normal");
    holdAndSpeak();
    EXPECT_EQ(window->waitForText("normal", typed, 30), typed) << logText();
    EXPECT_EQ(window->clipboardReads().size(), 1u) << "pasted, not typed";
    EXPECT_TRUE(waitUntil([&] { return paste() == "what the user copied"; }, 5))
        << "the clipboard is the user's again";
    // The front app comes from the compositor, named by its desktop entry.
    ASSERT_TRUE(waitUntil([&] { return rows() == 1; }, 10)) << readAll(work / "runs.csv");
    EXPECT_NE(readAll(work / "runs.csv").find(",\"Notes\"\n"), std::string::npos)
        << readAll(work / "runs.csv");
    EXPECT_EQ(logText().find("caf"), std::string::npos) << "no dictated word in the log";
    spin(0.3);
    EXPECT_TRUE(window->keysStillDown().empty());
}

TEST_F(WaylandDictation, APasswordFieldIsTypedAndNotRecorded) {
    start();
    focus("password");
    holdAndSpeak();
    EXPECT_EQ(window->waitForText("password", typed, 30), typed) << logText();
    EXPECT_TRUE(waitUntil([&] { return contains("not saved: a password field was in use"); }, 10))
        << logText();
    EXPECT_EQ(rows(), 0u);
    EXPECT_TRUE(window->clipboardReads().empty()) << "a password never goes on the clipboard";
}

TEST_F(WaylandDictation, ABoundToggleRecordsHandsFreeUntilTheNextToggle) {
    start();
    window->focus("normal");
    wtype({"-M", "ctrl", "-M", "alt", "-k", "d", "-m", "alt", "-m", "ctrl"});
    spin(0.5);
    pulse->play(work / "speech.wav");
    pulse->waitForPlay();
    spin(0.3);
    wtype({"-M", "ctrl", "-M", "alt", "-k", "d", "-m", "alt", "-m", "ctrl"});
    EXPECT_EQ(window->waitForText("normal", typed, 30), typed) << logText();
}

// Quitting while a long text is typed leaves no key down in the window.
TEST_F(WaylandDictation, QuittingMidTypingLeavesNoKeyDown) {
    std::string sentence;
    for (int word = 0; word < 40; ++word) {
        sentence += word ? " " : "";
        sentence += "abcdefghijklmnopqrstuvwxyz";
    }
    TestModels::writeWhisper(work / "models" / "ggml-large-v3-turbo-q5_0.bin", sentence);
    start();
    focus("password"); // typed, character by character
    holdAndSpeak();
    ASSERT_TRUE(waitUntil([&] { return window->text("password").size() >= 20; }, 30)) << logText();
    const int status = parlwick->end(SIGTERM);
    parlwick.reset();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(window->text("password").size(), sentence.size()) << "typing was still going on";
    spin(0.3);
    EXPECT_TRUE(window->keysStillDown().empty()) << testing::PrintToString(window->keysStillDown());
    // The keyboard is the user's as before: no modifier is left on.
    window->focus("normal");
    type("ok");
    EXPECT_EQ(window->waitForText("normal", "ok"), "ok");
}

} // namespace
