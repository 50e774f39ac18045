// The Wayland backends against a real compositor: headless sway (sway-session.sh), a GTK 4
// window as the target, wl-clipboard as another program's clipboard, dbus-send as the
// compositor's bound commands.
#include "LogCapture.h"
#include "WaylandSupport.h"
#include "desktop/wayland/DataControlClipboard.h"
#include "desktop/wayland/ForeignToplevels.h"
#include "desktop/wayland/LayerOverlay.h"
#include "desktop/wayland/RecordKeyCommands.h"
#include "desktop/wayland/VirtualKeyboard.h"
#include "desktop/wayland/WaylandConnection.h"
#include "desktop/wayland/WaylandDesktop.h"
#include "desktop/x11/AtspiFocusProbe.h"
#include "desktop/x11/AtspiWindowProbe.h"

#include <QImage>
#include <fstream>
#include <gtest/gtest.h>

using namespace WaylandSupport;

namespace {

const std::string nonLatin = "na\u00efve caf\u00e9 \u2013 \u65e5\u672c \U0001F3A4";

class WaylandBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = missingWayland(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        application();
        std::string why;
        connection = WaylandConnection::open(why);
        ASSERT_TRUE(connection) << why;
        connection->watch();
    }

    // Types through the backend and waits for its outcome.
    SynthesisResult typeWith(VirtualKeyboard& keyboard, const std::string& text) {
        std::optional<SynthesisResult> outcome;
        const auto started = keyboard.type(text, [&](SynthesisResult r) { outcome = r; });
        if (!started.isOk()) {
            return started;
        }
        EXPECT_TRUE(waitUntil([&] { return outcome.has_value(); }, 20));
        return outcome.value_or(SynthesisResult::failed("typing never finished"));
    }

    std::shared_ptr<WaylandConnection> connection;
};

TEST_F(WaylandBackendTest, TheVirtualKeyboardTypesAnyTextAndLeavesNoKeyDown) {
    Gtk4Window window("Compose", "org.parlwick.Mail");
    ASSERT_TRUE(window.ready());
    ASSERT_TRUE(VirtualKeyboard::isOffered(*connection));
    VirtualKeyboard keyboard(connection);
    ASSERT_TRUE(keyboard.isAvailable()) << keyboard.unavailableReason();

    window.focus("normal");
    EXPECT_EQ(typeWith(keyboard, nonLatin), SynthesisResult::ok());
    EXPECT_EQ(window.waitForText("normal", nonLatin), nonLatin);

    window.focus("password");
    EXPECT_EQ(typeWith(keyboard, "s3cret!"), SynthesisResult::ok());
    EXPECT_EQ(window.waitForText("password", "s3cret!"), "s3cret!");

    // Lines and tabs as keys; more distinct characters than one keymap holds.
    std::string many = "Dear Sam,\n\tthanks\n";
    for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c) {
        many += QString::fromUcs4(&c, 1).toStdString();
    }
    window.focus("multiline");
    EXPECT_EQ(typeWith(keyboard, many), SynthesisResult::ok());
    EXPECT_EQ(window.waitForText("multiline", many, 10), many);

    // A second job while one types is told to wait.
    std::optional<SynthesisResult> first;
    ASSERT_TRUE(keyboard.type("abc", [&](SynthesisResult r) { first = r; }).isOk());
    EXPECT_EQ(keyboard.type("x", [](SynthesisResult) {}).kind, SynthesisResult::Kind::retry);
    EXPECT_EQ(keyboard.sendPasteChord(PasteChord::ctrlV).kind, SynthesisResult::Kind::retry);
    ASSERT_TRUE(waitUntil([&] { return first.has_value(); }, 10));

    spin(0.3);
    EXPECT_TRUE(window.keysStillDown().empty());
}

TEST_F(WaylandBackendTest, APasteThroughDataControlIsFetchedThenTheClipboardComesBack) {
    Gtk4Window window("Compose", "org.parlwick.Mail");
    ASSERT_TRUE(window.ready());
    copyElsewhere("what the user copied");

    auto clipboard = DataControlClipboard::make(connection);
    ASSERT_TRUE(clipboard) << "sway offers data control";
    EXPECT_EQ(DataControlClipboard::offered(*connection), "zwlr_data_control_manager_v1");
    VirtualKeyboard keyboard(connection);

    const auto before = clipboard->snapshot();
    ASSERT_TRUE(before);
    const std::pair<std::string, std::string> copied{"text/plain;charset=utf-8",
                                                     "what the user copied"};
    EXPECT_NE(std::find(before->formats.begin(), before->formats.end(), copied),
              before->formats.end());

    std::vector<std::uint64_t> fetches;
    clipboard->setFetchedHandler([&](std::uint64_t write) { fetches.push_back(write); });
    window.focus("normal");
    const std::uint64_t write = clipboard->writeText(nonLatin, 0);
    EXPECT_TRUE(clipboard->holds(write));
    const auto types = clipboardTypes();
    EXPECT_NE(std::find(types.begin(), types.end(), Clipboard::concealedType), types.end())
        << "clipboard histories are told to leave it out";
    EXPECT_FALSE(clipboard->wasFetched(write)) << "listing the types reads nothing";

    ASSERT_TRUE(keyboard.sendPasteChord(PasteChord::ctrlV).isOk());
    EXPECT_EQ(window.waitForText("normal", nonLatin), nonLatin);
    ASSERT_TRUE(waitUntil([&] { return !fetches.empty(); }));
    EXPECT_EQ(fetches, std::vector{write});
    EXPECT_TRUE(clipboard->wasFetched(write));
    EXPECT_EQ(paste(), nonLatin);
    EXPECT_EQ(fetches.size(), 1u) << "one write is fetched once";

    clipboard->restore(*before);
    EXPECT_FALSE(clipboard->holds(write));
    EXPECT_EQ(paste(), "what the user copied");
    // What we put back is read from ourselves, without a trip through the compositor.
    EXPECT_EQ(clipboard->snapshot(), before);

    // Somebody else's copy ends our hold; an empty snapshot restores an empty clipboard.
    const std::uint64_t second = clipboard->writeText("ours", 0);
    copyElsewhere("theirs");
    spin(0.2);
    EXPECT_FALSE(clipboard->holds(second));
    clipboard->restore({});
    spin(0.2);
    EXPECT_EQ(paste(), std::nullopt);
    EXPECT_EQ(clipboard->snapshot(), ClipboardContents{});
    spin(0.2);
    EXPECT_TRUE(window.keysStillDown().empty());
}

// A reader that asks for our clipboard and never reads cannot hold the program.
TEST_F(WaylandBackendTest, AReaderThatNeverReadsDoesNotHoldTheClipboard) {
    auto clipboard = DataControlClipboard::make(connection);
    ASSERT_TRUE(clipboard);
    ClipboardContents contents;
    contents.formats.emplace_back("text/plain;charset=utf-8", "the user's text");
    // More than a pipe holds, so the write waits on the reader.
    contents.formats.emplace_back("image/png", std::string(4 << 20, 'x'));
    clipboard->restore(contents);

    QProcess stuck;
    stuck.start("sh", {"-c", "wl-paste --type image/png | sleep 15"});
    ASSERT_TRUE(stuck.waitForStarted());
    spin(0.5);
    EXPECT_EQ(paste(), "the user's text") << "the next reader is served in time";
    stuck.kill();
    stuck.waitForFinished();
}

TEST_F(WaylandBackendTest, TheFrontAppIsTheActivatedToplevelNamedByItsDesktopEntry) {
    TempDir data;
    std::filesystem::create_directories(data.path() / "applications");
    std::ofstream(data.path() / "applications" / "org.parlwick.Mail.desktop")
        << "[Desktop Entry]\nType=Application\nName=Mail\nExec=mail\n";
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string()));

    Gtk4Window mail("Inbox – Mail", "org.parlwick.Mail");
    ASSERT_TRUE(mail.ready());
    Gtk4Window chat("general", "org.parlwick.Chat");
    ASSERT_TRUE(chat.ready());
    auto windows = ForeignToplevels::make(connection);
    ASSERT_TRUE(windows);
    ASSERT_TRUE(windows->isAvailable());

    chat.focus("normal");
    auto front = windows->frontmost();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->appName, "org.parlwick.Chat") << "no desktop entry: the app id";
    EXPECT_EQ(front->windowClass, "org.parlwick.Chat");
    EXPECT_EQ(windows->title(*front), "general");

    mail.focus("normal");
    front = windows->frontmost();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->appName, "Mail");
    EXPECT_EQ(windows->title(*front), "Inbox – Mail");
    EXPECT_FALSE(windows->isKeyboardGrabbed());

    const auto mailWindow = *front;
    mail.close();
    spin(0.3);
    EXPECT_EQ(windows->title(mailWindow), std::nullopt) << "a closed window has no title";
    qunsetenv("XDG_DATA_HOME");
}

// Where the compositor names no window, the accessibility tree tells the front app.
TEST_F(WaylandBackendTest, TheAccessibilityTreeNamesTheFrontAppWhereNothingElseDoes) {
    AtspiFocusProbe focus;
    ASSERT_TRUE(focus.isAvailable()) << focus.unavailableReason();
    AtspiWindowProbe windows(focus);
    Gtk4Window mail("Inbox", "org.parlwick.Mail");
    ASSERT_TRUE(mail.ready());
    Gtk4Window chat("general", "org.parlwick.Chat");
    ASSERT_TRUE(chat.ready());

    // The probe learns of focus as it moves.
    chat.focus("password");
    chat.focus("normal");
    waitUntil([&] { return focus.focusedElement() != nullptr; });
    ASSERT_TRUE(waitUntil([&] { return windows.frontmost().has_value(); }));
    const auto chatWindow = *windows.frontmost();
    EXPECT_FALSE(chatWindow.appName.empty());
    EXPECT_EQ(chatWindow.pid, chat.pid());
    EXPECT_EQ(windows.title(chatWindow), "general");

    mail.focus("password");
    ASSERT_TRUE(waitUntil([&] {
        const auto front = windows.frontmost();
        return front && front->pid == mail.pid();
    }));
    const auto mailWindow = *windows.frontmost();
    EXPECT_NE(mailWindow.id, chatWindow.id);
    EXPECT_EQ(windows.title(mailWindow), "Inbox");
    EXPECT_EQ(windows.title(chatWindow), std::nullopt) << "only the window named last";
}

TEST_F(WaylandBackendTest, TheOverlayShowsAtTheBottomOverTheWindowsAndLeavesThemTheKeyboard) {
    if (!std::filesystem::exists("/usr/bin/grim")) {
        GTEST_SKIP() << "grim is not installed (scripts/setup.sh --tests installs it)";
    }
    Gtk4Window window("Compose", "org.parlwick.Mail");
    ASSERT_TRUE(window.ready());
    window.focus("normal");
    ASSERT_TRUE(LayerOverlay::isOffered(*connection));
    auto overlay = LayerOverlay::make(connection);
    ASSERT_TRUE(overlay);

    constexpr int width = 200, height = 40, bottom = 24;
    const std::vector<std::uint32_t> red(width * height, 0xffff0000);
    TempDir dir;
    // The colour the compositor shows where the overlay's middle goes.
    const auto middle = [&] {
        const auto shot = dir / "shot.png";
        run("grim", {QString::fromStdString(shot.string())});
        const QImage image(QString::fromStdString(shot.string()));
        return image.isNull()
                   ? QColor()
                   : image.pixelColor(image.width() / 2, image.height() - bottom - height / 2);
    };
    overlay->show(red, width, height, 1, bottom);
    ASSERT_TRUE(waitUntil([&] { return overlay->isShowing(); }, 5)) << "never configured";
    EXPECT_TRUE(waitUntil([&] { return middle() == QColor(Qt::red); }, 5))
        << "shows " << middle().name().toStdString();

    // The window keeps the keyboard: typing still reaches it.
    VirtualKeyboard keyboard(connection);
    std::optional<SynthesisResult> typed;
    ASSERT_TRUE(keyboard.type("still here", [&](SynthesisResult r) { typed = r; }).isOk());
    ASSERT_TRUE(waitUntil([&] { return typed.has_value(); }, 10));
    EXPECT_EQ(window.waitForText("normal", "still here"), "still here");

    overlay->hide();
    EXPECT_TRUE(waitUntil([&] { return middle() != QColor(Qt::red); }, 5));
}

TEST_F(WaylandBackendTest, TheSessionChoosesItsBackendsAndTheCompositorsBindingsDriveTheKey) {
    LogCapture logged;
    WaylandDesktop::Choice choice;
    TempDir support;
    Desktop desktop = WaylandDesktop::make(
        {"org.parlwick.Test", HotKey::rightOption, false, support.path() / "portal-token"},
        &choice);
    EXPECT_EQ(choice.description(), "record key: bus commands; typing: virtual keyboard; "
                                    "clipboard: zwlr_data_control_manager_v1; front app: "
                                    "foreign toplevels; pill: layer shell");
    EXPECT_TRUE(logged.contains("wayland desktop: " + choice.description()));
    EXPECT_EQ(WaylandDesktop::missingAccess(), "");
    // Accessibility is switched on for the apps that wait to be asked (Chromium, Qt).
    EXPECT_NE(run("dbus-send", {"--session", "--print-reply=literal", "--dest=org.a11y.Bus",
                                "/org/a11y/bus", "org.freedesktop.DBus.Properties.Get",
                                "string:org.a11y.Status", "string:IsEnabled"})
                  .find("boolean true"),
              std::string::npos);
    ASSERT_TRUE(desktop.keys->isAvailable()) << desktop.keys->unavailableReason();

    std::vector<KeyEvent::Kind> events;
    desktop.keys->start([&](const KeyEvent& event) { events.push_back(event.kind); });
    // The lines the README gives for sway, with the key held, then tapped once for a toggle.
    const auto command = [](const char* method) {
        return std::vector<std::string>{"dbus-send",
                                        "--session",
                                        "--type=method_call",
                                        "--dest=org.parlwick.Test",
                                        RecordKeyCommands::objectPath,
                                        std::string(RecordKeyCommands::interfaceName) + "." +
                                            method};
    };
    const auto line = [&](const char* method) {
        std::string joined;
        for (const auto& word : command(method)) {
            joined += (joined.empty() ? "" : " ") + word;
        }
        return joined;
    };
    EXPECT_EQ(RecordKeyCommands::command("org.parlwick.Test", "Start"), line("Start"));
    ASSERT_TRUE(bindCommand("--no-repeat Alt_R", command("Start")));
    ASSERT_TRUE(bindCommand("--release Alt_R", command("Stop")));
    ASSERT_TRUE(bindCommand("Ctrl+Alt+d", command("Toggle")));

    Gtk4Window window("Compose", "org.parlwick.Mail");
    ASSERT_TRUE(window.ready());
    wtype({"-P", "Alt_R", "-s", "300", "-p", "Alt_R"});
    wtype({"-M", "ctrl", "-M", "alt", "-k", "d", "-m", "alt", "-m", "ctrl"});
    ASSERT_TRUE(waitUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector{KeyEvent::Kind::recordKeyDown, KeyEvent::Kind::recordKeyUp,
                                   KeyEvent::Kind::recordToggle}));

    // A key that repeats its Start while held starts once.
    run("sh",
        {"-c",
         QString::fromStdString(line("Start") + " && " + line("Start") + " && " + line("Stop"))},
        5);
    ASSERT_TRUE(waitUntil([&] { return events.size() == 5; }));
    EXPECT_EQ(events[3], KeyEvent::Kind::recordKeyDown);
    EXPECT_EQ(events[4], KeyEvent::Kind::recordKeyUp);

    // A second copy cannot answer on the same name.
    RecordKeyCommands second{QStringLiteral("org.parlwick.Test")};
    EXPECT_FALSE(second.isAvailable());
}

} // namespace
