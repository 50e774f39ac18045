// The X11 and AT-SPI backends against a real desktop: Xvfb with a window manager and the
// accessibility bus (started by desktop-session.sh), GTK 3 and Qt windows with real text
// fields, a terminal emulator, and xdotool as the user's hands.
#include "BackgroundProcess.h"
#include "DesktopSupport.h"
#include "RecordKeyCalls.h"
#include "desktop/x11/AtspiFocusProbe.h"
#include "desktop/x11/X11Clipboard.h"
#include "desktop/x11/X11Desktop.h"
#include "desktop/x11/X11KeyListener.h"
#include "desktop/x11/X11KeySynthesizer.h"
#include "desktop/x11/X11WindowProbe.h"
#include "dictation/FrontApp.h"
#include "dictation/Paster.h"
#include "dictation/RecordKeyMonitor.h"
#include "dictation/Terminals.h"

#include <QStandardPaths>
#include <X11/keysym.h>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/socket.h>

using namespace DesktopSupport;
using Toolkit = FieldsWindow::Toolkit;

namespace {

// Keycodes of Xvfb's default keymap.
const QString rightAlt = "108";
const QString leftAlt = "64";
// Named, since xdotool reads a number that is also a keysym name ("9") as that keysym.
const QString letterA = "a";
const QString escape = "Escape";
const QString leftShift = "50";

const std::string userClipboard = "what the user copied";
const std::string nonLatin = "h\u00e9llo \u2713 \u0133\u65e5\u672c \U0001F600";

using Calls = RecordKeyCalls;

// Where `got` first parts from `expected`, with a little of each around it; empty when equal.
std::string firstDifference(const std::string& got, const std::string& expected) {
    const QString a = QString::fromStdString(got);
    const QString b = QString::fromStdString(expected);
    qsizetype at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) {
        ++at;
    }
    if (at == a.size() && at == b.size()) {
        return {};
    }
    const qsizetype from = std::max<qsizetype>(0, at - 10);
    return "at character " + std::to_string(at) + " of " + std::to_string(b.size()) + ": got \"" +
           a.mid(from, 30).toStdString() + "\", expected \"" + b.mid(from, 30).toStdString() + "\"";
}

class DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = missingDesktop(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        application();
        // Made before any test window, so the windows' accessibility learns of our listener.
        desktop = X11Desktop::make();
        ASSERT_TRUE(desktop.keys->isAvailable()) << desktop.keys->unavailableReason();
        ASSERT_TRUE(desktop.synthesizer->isAvailable()) << desktop.synthesizer->unavailableReason();
        ASSERT_TRUE(desktop.windows->isAvailable());
        ASSERT_TRUE(desktop.focus->isAvailable());
        ASSERT_TRUE(desktop.clipboard->isAvailable());
        paster = std::make_unique<Paster>(*desktop.clipboard, *desktop.synthesizer, *desktop.focus,
                                          *desktop.windows, scheduler);
    }

    void listen() {
        monitor = std::make_unique<RecordKeyMonitor>(calls, [] { return HotKey::rightOption; });
        ASSERT_TRUE(monitor->startListening(*desktop.keys, Options{}, [](const std::string&) {}));
    }

    bool callsAre(const std::vector<std::string>& expected, double seconds = 3) {
        return waitUntil([&] { return calls.made == expected; }, seconds);
    }

    // Waits until AT-SPI reports a focused field with a readable state.
    bool fieldFocused() {
        return waitUntil([&] {
            const auto element = desktop.focus->focusedElement();
            return element && desktop.focus->state(*element).has_value();
        });
    }

    std::unique_ptr<FieldsWindow> fields(Toolkit toolkit, const std::string& field,
                                         const std::string& title = "Fields") {
        auto window = std::make_unique<FieldsWindow>(toolkit, title, "FieldsTest");
        EXPECT_TRUE(window->ready()) << "the test window did not show";
        if (window->ready()) {
            window->focus(field);
            EXPECT_TRUE(fieldFocused()) << "AT-SPI never reported the focused field";
        }
        return window;
    }

    // Whether the clipboard holds `text` again within a while, read as another program would.
    bool clipboardBecomes(const std::string& text) {
        return waitUntil([&] { return clipboard() == text; }, Paster::restoreLimit + 2);
    }

    Desktop desktop;
    MainLoopScheduler scheduler;
    std::unique_ptr<Paster> paster;
    Calls calls;
    std::unique_ptr<RecordKeyMonitor> monitor;
};

// --- The record key --------------------------------------------------------------------

TEST(X11KeyListener, KeysymsAreTheirKeysAndOtherModifiersNone) {
    using Input = KeyEvent::Input;
    const std::optional<KeyEvent::Key> none;
    const std::pair<unsigned long, std::optional<KeyEvent::Key>> rows[] = {
        {XK_Alt_R, HotKey::rightOption},
        {XK_ISO_Level3_Shift, HotKey::rightOption}, // right Alt in AltGr layouts
        {XK_Super_R, HotKey::rightCommand},
        {XK_Control_R, HotKey::rightControl},
        {0x100811d0, HotKey::fn}, // XF86Fn
        {XK_Escape, Input::escape},
        {XK_a, Input::otherKey},
        {XK_Return, Input::otherKey},
        {XK_Alt_L, none},
        {XK_Shift_R, none},
        {XK_Control_L, none},
        {XK_Super_L, none},
        {XK_Meta_R, none},
        {XK_Hyper_R, none},
        {XK_Caps_Lock, none},
        {XK_Num_Lock, none},
    };
    for (const auto& [keysym, key] : rows) {
        EXPECT_EQ(X11KeyListener::keyOf(keysym), key) << std::hex << keysym;
    }
}

TEST_F(DesktopTest, RightAltDrivesKeyDownAndUpWhileLeftAltDoesNothing) {
    listen();
    xdotool({"keydown", leftAlt});
    xdotool({"keyup", leftAlt});
    xdotool({"keydown", rightAlt});
    EXPECT_TRUE(callsAre({"down"})) << ::testing::PrintToString(calls.made);
    xdotool({"keyup", rightAlt});
    EXPECT_TRUE(callsAre({"down", "up"})) << ::testing::PrintToString(calls.made);
}

TEST_F(DesktopTest, AnotherKeyWhileHoldingCancelsButInHandsFreeOnlyEscapeDoes) {
    listen();
    xdotool({"keydown", rightAlt});
    xdotool({"key", letterA});
    xdotool({"keyup", rightAlt});
    EXPECT_TRUE(callsAre({"down", "acted", "cancel", "up"}))
        << ::testing::PrintToString(calls.made);

    calls.made.clear();
    calls.handsFree = true;
    xdotool({"key", letterA});
    EXPECT_TRUE(callsAre({"acted"})) << ::testing::PrintToString(calls.made);
    xdotool({"key", escape});
    EXPECT_TRUE(callsAre({"acted", "acted", "cancel"})) << ::testing::PrintToString(calls.made);
}

TEST_F(DesktopTest, ALeftClickIsUserActivityButOtherButtonsAreNot) {
    listen();
    xdotool({"click", "3"});
    xdotool({"click", "1"});
    EXPECT_TRUE(callsAre({"acted"})) << ::testing::PrintToString(calls.made);
}

TEST_F(DesktopTest, OurOwnPasteChordAndTypingNeitherActNorCancel) {
    listen();
    calls.handsFree = true;
    EXPECT_EQ(desktop.synthesizer->sendPasteChord(PasteChord::ctrlV), SynthesisResult::ok());
    EXPECT_EQ(desktop.synthesizer->sendPasteChord(PasteChord::ctrlShiftV), SynthesisResult::ok());
    std::optional<SynthesisResult> typed;
    EXPECT_TRUE(
        desktop.synthesizer->type("ab\u00e9", [&](SynthesisResult r) { typed = r; }).isOk());
    ASSERT_TRUE(waitUntil([&] { return typed.has_value(); }));
    EXPECT_TRUE(typed->isOk()) << typed->description();
    spin(0.3);
    EXPECT_TRUE(calls.made.empty()) << ::testing::PrintToString(calls.made);
    EXPECT_EQ(desktop.synthetic->pending(), 0u) << "a synthesised event never came back";

    // The user's keys still count afterwards.
    xdotool({"key", escape});
    EXPECT_TRUE(callsAre({"acted", "cancel"})) << ::testing::PrintToString(calls.made);
}

TEST_F(DesktopTest, TheChordWaitsWhileTheRecordKeyIsHeld) {
    xdotool({"keydown", rightAlt});
    const SynthesisResult held = desktop.synthesizer->sendPasteChord(PasteChord::ctrlV);
    EXPECT_EQ(held.kind, SynthesisResult::Kind::retry);
    EXPECT_NE(held.reason.find("Alt_R"), std::string::npos) << held.reason;
    xdotool({"keyup", rightAlt});
    EXPECT_TRUE(desktop.synthesizer->sendPasteChord(PasteChord::ctrlV).isOk());
}

// --- Pasting ---------------------------------------------------------------------------

class PasteTest : public DesktopTest, public ::testing::WithParamInterface<Toolkit> {};

TEST_P(PasteTest, ArrivesAndTheClipboardComesBackOnceTheFieldFetchedIt) {
    copyElsewhere(userClipboard);
    const auto window = fields(GetParam(), "normal");
    ASSERT_TRUE(window->ready());

    LogCapture log;
    QElapsedTimer sincePaste;
    sincePaste.start();
    paster->paste("h\u00e9llo w\u00f6rld", false);
    EXPECT_EQ(window->waitForText("normal", "h\u00e9llo w\u00f6rld"), "h\u00e9llo w\u00f6rld");
    ASSERT_TRUE(clipboardBecomes(userClipboard)) << "the user's clipboard never came back";
    // Back once the field fetched the text, not before the 0.5 s and not only at the limit.
    const double back = sincePaste.elapsed() / 1000.0;
    EXPECT_GE(back, Paster::restoreAfter);
    EXPECT_LT(back, Paster::restoreLimit - 0.3);
    EXPECT_FALSE(log.contains("typing instead")) << log.text();
    // The restored clipboard offers each type once.
    const std::string restored = clipboard("TARGETS");
    const QStringList offered = QString::fromStdString(restored).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(offered.count("TARGETS"), 1) << restored;
    EXPECT_EQ(offered.count("text/plain"), 1) << restored;
}

TEST_P(PasteTest, AFieldIgnoringThePasteGetsTheTextTypedAndTheClipboardBackAtTheLimit) {
    copyElsewhere(userClipboard);
    const auto window = fields(GetParam(), "nopaste");
    ASSERT_TRUE(window->ready());

    LogCapture log;
    QElapsedTimer sincePaste;
    sincePaste.start();
    paster->paste(nonLatin, false);
    // Clipboard histories see the concealed hint; their reading the text is not the paste.
    const std::string targets = clipboard("TARGETS");
    EXPECT_NE(targets.find("x-kde-passwordManagerHint"), std::string::npos) << targets;
    EXPECT_EQ(clipboard(Clipboard::concealedType), "secret");
    EXPECT_EQ(clipboard(), nonLatin);
    EXPECT_EQ(window->waitForText("nopaste", nonLatin, 6), nonLatin);
    EXPECT_TRUE(log.contains("paste didn't arrive, typing instead")) << log.text();
    ASSERT_TRUE(clipboardBecomes(userClipboard)) << "the user's clipboard never came back";
    // The field never asked, so the clipboard came back at the limit.
    EXPECT_GE(sincePaste.elapsed() / 1000.0, Paster::restoreLimit - 0.05);
}

TEST_P(PasteTest, APasswordFieldIsDetectedAndTypedWithoutTouchingTheClipboard) {
    const auto window = fields(GetParam(), "normal");
    ASSERT_TRUE(window->ready());
    EXPECT_FALSE(FrontApp::isSecure(*desktop.windows, *desktop.focus));
    window->focus("password");
    ASSERT_TRUE(waitUntil([&] { return FrontApp::isSecure(*desktop.windows, *desktop.focus); }))
        << "the password field was not recognised";

    copyElsewhere(userClipboard);
    paster->paste("hunter2", true);
    // The user's clipboard is there all along, the password never.
    EXPECT_EQ(clipboard(), userClipboard);
    EXPECT_EQ(window->waitForText("password", "hunter2"), "hunter2");
    EXPECT_EQ(clipboard(), userClipboard);

    // A password field that ignores pastes still gets the typed text.
    window->focus("secretnopaste");
    paster->paste("hunter3", true);
    EXPECT_EQ(window->waitForText("secretnopaste", "hunter3"), "hunter3");
    EXPECT_EQ(clipboard(), userClipboard);
}

TEST_P(PasteTest, TextWithMoreDistinctCharactersThanFreeKeycodesIsTypedIntact) {
    const auto window = fields(GetParam(), "nopaste");
    ASSERT_TRUE(window->ready());
    // Over 40 different characters: the borrowed keycodes are reused many times over.
    const std::string text = "The quick brown fox jumps over the lazy dog, 0123456789! "
                             "\u00c4\u00d6\u00dc \u00e4\u00f6\u00fc \u00df \u20ac "
                             "\u0391\u03b2\u03b3 \u0416\u0436";
    std::optional<SynthesisResult> typed;
    ASSERT_TRUE(desktop.synthesizer->type(text, [&](SynthesisResult r) { typed = r; }).isOk());
    EXPECT_EQ(window->waitForText("nopaste", text, 10), text);
    ASSERT_TRUE(waitUntil([&] { return typed.has_value(); }));
    EXPECT_TRUE(typed->isOk()) << typed->description();
}

// Two busy loops on two cores: the field reads its events, and the keymap changes they
// announce, long after they were sent.
TEST_P(PasteTest, SixHundredMixedCharactersAreTypedExactlyOnABusyMachine) {
    const std::string mixed =
        "Meet on Friday to go over the pricing slides, then call Zo\u00eb & Bj\u00f6rn at "
        "14:30 (room #7). Caf\u00e9, na\u00efve, fa\u00e7ade, se\u00f1or, cr\u00e8me "
        "br\u00fbl\u00e9e; Stra\u00dfe \u2192 5 \u20ac or \u00a34.20 \u00b1 3 % \u2014 ok? "
        "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac: \u03b1\u03b2\u03b3\u03b4\u03b5 "
        "\u03a3\u03a9. \u0420\u0443\u0441\u0441\u043a\u0438\u0439: \u043f\u0440\u0438\u0432"
        "\u0435\u0442, \u043c\u0438\u0440! \u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8"
        "\u3002 \u2713 \u2717 \u00a9 \u00b0 \u00bd \u00bfQu\u00e9? \u00a1S\u00ed! [a] {b} "
        "<c> |d| ~e^ `f' \"g\" \\h/ _i_ @j $k *l + m = n; ";
    std::string text;
    while (QString::fromStdString(text).size() < 600) {
        text += mixed;
    }
    const auto window = fields(GetParam(), "nopaste");
    ASSERT_TRUE(window->ready());
    const BackgroundProcess busy1({"/bin/sh", "-c", "while :; do :; done"});
    const BackgroundProcess busy2({"/bin/sh", "-c", "while :; do :; done"});
    std::string expected;
    for (int round = 0; round < 3; ++round) {
        std::optional<SynthesisResult> typed;
        ASSERT_TRUE(desktop.synthesizer->type(text, [&](SynthesisResult r) { typed = r; }).isOk());
        ASSERT_TRUE(waitUntil([&] { return typed.has_value(); }, 60)) << "round " << round;
        EXPECT_TRUE(typed->isOk()) << typed->description();
        expected += text;
        const std::string got = window->waitForText("nopaste", expected, 10);
        ASSERT_EQ(firstDifference(got, expected), "") << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Toolkits, PasteTest, ::testing::Values(Toolkit::gtk, Toolkit::qt),
                         [](const auto& info) {
                             return info.param == Toolkit::gtk ? "Gtk" : "Qt";
                         });

TEST_F(DesktopTest, ATerminalGetsCtrlShiftV) {
    if (QStandardPaths::findExecutable("st").isEmpty()) {
        GTEST_SKIP() << "the st terminal emulator is not installed";
    }
    TempDir folder;
    const auto output = folder / "typed";
    Child terminal(
        "st", {"-t", "Terminal Test", "-e", "sh", "-c",
               QString::fromStdString("stty raw -echo; exec cat > '" + output.string() + "'")});
    const std::string id = run("xdotool", {"search", "--sync", "--name", "^Terminal Test$"}, 15);
    ASSERT_FALSE(id.empty()) << "the terminal window did not show";
    xdotool({"windowactivate", "--sync", QString::fromStdString(id).trimmed()});
    ASSERT_TRUE(waitUntil([&] {
        const auto front = desktop.windows->frontmost();
        return front && Terminals::pasteMethod(front->windowClass) == PasteMethod::ctrlShiftV;
    })) << "the terminal's window class is not a known terminal";

    copyElsewhere(userClipboard);
    paster->paste("echo dictated", false);
    EXPECT_TRUE(waitUntil([&] { return readAll(output) == "echo dictated"; }))
        << "the terminal got: " << readAll(output);
    EXPECT_TRUE(clipboardBecomes(userClipboard)) << "the user's clipboard never came back";
}

TEST_F(DesktopTest, ALayoutWithoutLatinLettersStillPastes) {
    run("setxkbmap", {"ru"});
    const auto window = fields(Toolkit::gtk, "normal");
    ASSERT_TRUE(window->ready());
    paster->paste("\u043f\u0440\u0438\u0432\u0435\u0442 and hello", false);
    EXPECT_EQ(window->waitForText("normal", "\u043f\u0440\u0438\u0432\u0435\u0442 and hello"),
              "\u043f\u0440\u0438\u0432\u0435\u0442 and hello");
    run("setxkbmap", {"us"});
}

TEST_F(DesktopTest, AHeldModifierDelaysThePasteUntilItIsReleased) {
    const auto window = fields(Toolkit::gtk, "normal");
    ASSERT_TRUE(window->ready());
    xdotool({"keydown", leftShift});
    paster->paste("after the shift", false);
    spin(0.4);
    EXPECT_EQ(window->text("normal"), "") << "the chord went out with Shift down";
    xdotool({"keyup", leftShift});
    EXPECT_EQ(window->waitForText("normal", "after the shift"), "after the shift");
}

TEST_F(DesktopTest, ACopyMadeDuringThePasteStays) {
    copyElsewhere(userClipboard);
    const auto window = fields(Toolkit::gtk, "normal");
    ASSERT_TRUE(window->ready());
    QElapsedTimer sincePaste;
    sincePaste.start();
    paster->paste("dictated", false);
    EXPECT_EQ(window->waitForText("normal", "dictated"), "dictated");
    copyElsewhere("copied meanwhile");
    EXPECT_LT(sincePaste.elapsed(), 1000 * Paster::restoreAfter) << "the copy came too late";
    spin(Paster::restoreLimit + 0.3);
    EXPECT_EQ(clipboard(), "copied meanwhile");
}

TEST_F(DesktopTest, AnEmptyClipboardIsLeftEmpty) {
    const auto window = fields(Toolkit::gtk, "normal");
    ASSERT_TRUE(window->ready());
    ASSERT_EQ(clipboard("TARGETS"), "");
    paster->paste("into nothing", false);
    EXPECT_EQ(window->waitForText("normal", "into nothing"), "into nothing");
    EXPECT_TRUE(waitUntil([&] { return clipboard("TARGETS").empty(); }, Paster::restoreLimit + 1));
}

// --- What is in front ------------------------------------------------------------------

TEST_F(DesktopTest, CaptureNamesTheAppFromItsDesktopEntryAndReadsOnlyABrowsersTitle) {
    TempDir data;
    writeAll(data / "applications/browser-test.desktop",
             "[Desktop Entry]\nType=Application\nName=Chromium\nExec=/usr/bin/browser-test %U\n"
             "StartupWMClass=BrowserTest\n");
    writeAll(data / "applications/notes-test.desktop",
             "[Desktop Entry]\nType=Application\nName=Notes\nName[de]=Notizen\n"
             "StartupWMClass=NotesTest\n");
    const auto browserLike = [](std::string_view name) { return name == "chromium"; };
    FieldsWindow browser(Toolkit::gtk, "Inbox (3) - Mail", "BrowserTest");
    FieldsWindow notes(Toolkit::gtk, "Shopping list", "NotesTest");
    FieldsWindow other(Toolkit::gtk, "Other", "NoEntryTest");
    ASSERT_TRUE(browser.ready() && notes.ready() && other.ready());
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    ::setenv("LANG", "de_DE.UTF-8", 1);

    browser.focus("normal");
    const FrontApp::Front inBrowser = FrontApp::front(*desktop.windows, browserLike);
    EXPECT_EQ(inBrowser.appName, "Chromium");
    EXPECT_EQ(inBrowser.windowTitle, "Inbox (3) - Mail");

    notes.focus("normal");
    const FrontApp::Front inNotes = FrontApp::front(*desktop.windows, browserLike);
    EXPECT_EQ(inNotes.appName, "Notizen");
    EXPECT_EQ(inNotes.windowTitle, std::nullopt);

    // Without a desktop entry the window's class names the app, not its interpreter's entry.
    other.focus("normal");
    EXPECT_EQ(FrontApp::capture(*desktop.windows).appName, "NoEntryTest");
    const auto front = desktop.windows->frontmost();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->pid, std::optional<std::int64_t>(other.pid()));
}

TEST_F(DesktopTest, AWindowWithoutClassOrProcessIsAnUnknownApp) {
    Child bare("/usr/bin/python3", {X_CLIENT, "bare-window"});
    const std::string ready = bare.readLine();
    ASSERT_EQ(ready.rfind("ready ", 0), 0u) << ready;
    const std::uint64_t id = std::stoull(ready.substr(6));
    xdotool({"windowactivate", "--sync", QString::number(id)});
    ASSERT_TRUE(waitUntil([&] {
        const auto front = desktop.windows->frontmost();
        return front && front->id == id;
    })) << "the bare window never became active";
    LogCapture log;
    EXPECT_EQ(FrontApp::capture(*desktop.windows), ScreenContext("unknown app"));
    EXPECT_TRUE(log.contains("no class and no process id")) << log.text();
}

// --- Failures --------------------------------------------------------------------------

TEST_F(DesktopTest, AClipboardOwnerThatNeverAnswersDelaysNothing) {
    Child owner("/usr/bin/python3", {X_CLIENT, "silent-owner"});
    ASSERT_EQ(owner.readLine().rfind("ready", 0), 0u);
    const auto window = fields(Toolkit::gtk, "normal");
    ASSERT_TRUE(window->ready());

    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    paster->paste("still pasted", false);
    EXPECT_LT(timer.elapsed(), 1000) << "paste blocked on the silent owner";
    EXPECT_EQ(window->waitForText("normal", "still pasted"), "still pasted");
    EXPECT_TRUE(log.contains("clipboard owner did not answer")) << log.text();
}

TEST_F(DesktopTest, AFieldThatDisappearsDuringTheCheckEndsItQuietly) {
    auto window = fields(Toolkit::gtk, "nopaste");
    ASSERT_TRUE(window->ready());
    LogCapture log;
    paster->paste("nobody is listening", false);
    spin(0.1);
    window->close();
    spin(Paster::checkDelays[1] + 0.5);
    EXPECT_FALSE(log.contains("typing instead")) << log.text();
}

// --- A connection the server drops ---------------------------------------------------

// The sockets this process holds; a part's own X connection is the one that appears with it.
std::set<int> openSockets() {
    std::set<int> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target.string().starts_with("socket:")) {
            found.insert(std::stoi(entry.path().filename().string()));
        }
    }
    return found;
}

// Cuts the one connection opened since `before`, as a server that drops a client does.
void cutNewConnection(const std::set<int>& before) {
    std::vector<int> opened;
    std::ranges::set_difference(openSockets(), before, std::back_inserter(opened));
    ASSERT_EQ(opened.size(), 1u) << "expected one new X connection";
    ::shutdown(opened.front(), SHUT_RDWR);
}

TEST_F(DesktopTest, TypingOutlivesItsLostXConnectionAndConnectsAgain) {
    const auto window = fields(Toolkit::gtk, "nopaste");
    ASSERT_TRUE(window->ready());
    const auto before = openSockets();
    SyntheticEvents events;
    X11KeySynthesizer synthesizer(events);
    ASSERT_TRUE(synthesizer.isAvailable());
    cutNewConnection(before);

    LogCapture log;
    std::optional<SynthesisResult> typed;
    const SynthesisResult started = synthesizer.type("lost", [&](SynthesisResult r) { typed = r; });
    if (started.isOk()) {
        ASSERT_TRUE(waitUntil([&] { return typed.has_value(); }, 10));
        EXPECT_EQ(typed->kind, SynthesisResult::Kind::failed) << typed->description();
    } else {
        EXPECT_EQ(started.kind, SynthesisResult::Kind::failed) << started.description();
    }
    EXPECT_TRUE(log.contains("x11 connection lost")) << log.text();

    // The next dictation connects again and is typed.
    typed.reset();
    ASSERT_TRUE(synthesizer.isAvailable()) << synthesizer.unavailableReason();
    ASSERT_TRUE(synthesizer.type("back", [&](SynthesisResult r) { typed = r; }).isOk());
    EXPECT_EQ(window->waitForText("nopaste", "back"), "back");
    EXPECT_TRUE(log.contains("x11 key synthesizer connected again")) << log.text();
}

TEST_F(DesktopTest, TheRecordKeyOutlivesALostXConnection) {
    const auto before = openSockets();
    SyntheticEvents events;
    X11KeyListener listener(events);
    std::vector<KeyEvent> heard;
    listener.start([&](const KeyEvent& event) { heard.push_back(event); });
    cutNewConnection(before);

    LogCapture log;
    ASSERT_TRUE(waitUntil([&] { return log.contains("key listener: connected again"); }, 5))
        << log.text();
    xdotool({"keydown", rightAlt});
    xdotool({"keyup", rightAlt});
    EXPECT_TRUE(waitUntil([&] {
        return std::ranges::count(heard, KeyEvent::Key{HotKey::rightOption}, &KeyEvent::key) >= 2;
    })) << "the record key went unheard after the connection came back";
}

TEST(DesktopFailures, WithoutADisplayEveryPartSaysSoAndNothingIsSent) {
    if (const std::string why = missingDesktop(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    ::unsetenv("DISPLAY");
    SyntheticEvents synthetic;
    X11KeyListener keys(synthetic);
    X11KeySynthesizer synthesizer(synthetic);
    LogCapture log;
    X11WindowProbe windows;
    EXPECT_FALSE(keys.isAvailable());
    EXPECT_EQ(keys.unavailableReason(), "no X display (DISPLAY is not set)");
    EXPECT_FALSE(synthesizer.isAvailable());
    EXPECT_EQ(synthesizer.sendPasteChord(PasteChord::ctrlV).kind, SynthesisResult::Kind::failed);
    EXPECT_FALSE(windows.isAvailable());
    EXPECT_EQ(FrontApp::capture(windows).appName, "unknown app");
    EXPECT_TRUE(log.contains("window probe unavailable: no X display")) << log.text();

    // Without an application on X11 there is no clipboard either; a paste only logs.
    X11Clipboard clipboard;
    EXPECT_FALSE(clipboard.isAvailable());
    AtspiFocusProbe focus;
    MainLoopScheduler scheduler;
    Paster paster(clipboard, synthesizer, focus, windows, scheduler);
    paster.paste("goes nowhere", false);
    EXPECT_TRUE(log.contains("cannot paste: no X display")) << log.text();
}

TEST(DesktopFailures, WithoutTheAccessibilityBusFieldChecksAreOffQuickly) {
    if (const std::string why = missingDesktop(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    // The bus is found through the session bus or the root window's AT_SPI_BUS: take both away.
    run("xprop", {"-root", "-remove", "AT_SPI_BUS"});
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    AtspiFocusProbe focus;
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_FALSE(focus.isAvailable());
    EXPECT_EQ(focus.focusedElement(), nullptr);
    EXPECT_TRUE(log.contains("field checks unavailable")) << log.text();
}

TEST(DesktopFailures, WithoutXTestNothingIsSynthesised) {
    if (const std::string why = missingDesktop(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    std::unique_ptr<Child> server;
    const std::string display = startServerWithoutXTest(server);
    ASSERT_FALSE(display.empty()) << "no Xvfb without XTEST could be started";
    ::setenv("DISPLAY", display.c_str(), 1);
    SyntheticEvents synthetic;
    X11KeySynthesizer synthesizer(synthetic);
    EXPECT_FALSE(synthesizer.isAvailable());
    EXPECT_EQ(synthesizer.unavailableReason(), "the X server has no XTEST extension");
    // The listener needs only XInput 2.
    X11KeyListener keys(synthetic);
    EXPECT_TRUE(keys.isAvailable()) << keys.unavailableReason();
}

} // namespace
