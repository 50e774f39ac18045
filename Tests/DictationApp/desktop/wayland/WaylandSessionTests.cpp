// The Wayland test desktop itself, on its real parts: sway-session.sh's headless sway, wtype as
// the user's hands, wl-clipboard as another program's clipboard and a GTK 4 window. The
// backends' tests take these for granted; here they are checked once.
#include "WaylandSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace WaylandSupport;

namespace {

const std::string nonLatin = "na\u00efve caf\u00e9 \u2013 \u65e5\u672c \U0001F3A4";

class WaylandSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = missingWayland(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        application();
        // The tests must prove the Wayland paths, not an X server's.
        ASSERT_EQ(std::getenv("DISPLAY"), nullptr);
    }
};

// Typed text reaches each kind of field whole, and every key pressed is released again.
TEST_F(WaylandSessionTest, TypedTextReachesEachFieldAndNoKeyStaysDown) {
    Gtk4Window window("Compose", "org.parlwick.Mail");
    ASSERT_TRUE(window.ready()) << "the GTK 4 window did not get the focus";
    for (const std::string field : {"normal", "password", "multiline"}) {
        SCOPED_TRACE(field);
        window.focus(field);
        type(nonLatin);
        EXPECT_EQ(window.waitForText(field, nonLatin), nonLatin);
    }
    // Named keys after the text. (wtype's keymaps have one level: Shift+a still types "a".)
    window.focus("multiline");
    wtype({"-k", "Return", "-k", "a"});
    EXPECT_EQ(window.waitForText("multiline", nonLatin + "\na"), nonLatin + "\na");

    EXPECT_EQ(window.keysStillDownAfter(), std::vector<std::string>{});
    // One press per character typed (17 in each field), then Return and "a".
    const auto keys = window.keyLog();
    EXPECT_EQ(std::count_if(keys.begin(), keys.end(),
                            [](const std::string& line) { return line.rfind("down ", 0) == 0; }),
              3 * 17 + 2);
    EXPECT_NE(std::find(keys.begin(), keys.end(), "up Return"), keys.end());
}

// sway names the window that has the focus, and follows the focus from one app to another.
TEST_F(WaylandSessionTest, SwayNamesTheFocusedApp) {
    Gtk4Window mail("Inbox", "org.parlwick.Mail");
    ASSERT_TRUE(mail.ready());
    Gtk4Window notes("Shopping list", "org.parlwick.Notes");
    ASSERT_TRUE(notes.ready());

    struct Case {
        Gtk4Window* window;
        std::string appId;
        std::string title;
    };
    for (const Case& c : {Case{&mail, "org.parlwick.Mail", "Inbox"},
                          Case{&notes, "org.parlwick.Notes", "Shopping list"},
                          Case{&mail, "org.parlwick.Mail", "Inbox"}}) {
        SCOPED_TRACE(c.appId);
        c.window->focus("normal");
        const auto focused = focusedWindow();
        ASSERT_TRUE(focused.has_value());
        EXPECT_EQ(focused->appId, c.appId);
        EXPECT_EQ(focused->title, c.title);
        EXPECT_EQ(focused->pid, c.window->pid());
    }
    // Bound keys run sway's commands, and programs as this test's user with its arguments whole
    // (into a folder only that user may enter): what the shortcut tests rely on.
    EXPECT_TRUE(swaymsg("bindsym Ctrl+Alt+F9 focus right"));
    EXPECT_FALSE(swaymsg("no-such-command"));
    const TempDir folder;
    const std::string written = (folder / "it's a \"shortcut\" $HOME").string();
    ASSERT_TRUE(bindCommand("--release Ctrl+Alt+F10",
                            {"/bin/sh", "-c",
                             "printf '%s\\n' $(id -u) \"$DBUS_SESSION_BUS_ADDRESS\" > \"$0.part\"; "
                             "mv \"$0.part\" \"$0\"",
                             written}));
    wtype({"-M", "ctrl", "-M", "alt", "-k", "F9", "-k", "F10", "-m", "alt", "-m", "ctrl"});
    EXPECT_TRUE(waitUntil([&] {
        const auto focused = focusedWindow();
        return focused && focused->appId == "org.parlwick.Notes";
    }));
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(written); }));
    EXPECT_EQ(readAll(written),
              std::to_string(::getuid()) + "\n" + std::getenv("DBUS_SESSION_BUS_ADDRESS") + "\n");
}

// The clipboard round-trips between programs in both directions, and a paste into the window
// shows in its log.
TEST_F(WaylandSessionTest, ClipboardRoundTripsBetweenProgramsAndTheWindow) {
    copyElsewhere(nonLatin);
    EXPECT_EQ(paste(), nonLatin);
    const auto types = clipboardTypes();
    EXPECT_NE(std::find(types.begin(), types.end(), "text/plain;charset=utf-8"), types.end());

    Gtk4Window window("Compose", "org.parlwick.Mail");
    ASSERT_TRUE(window.ready());
    window.focus("normal");
    wtype({"-M", "ctrl", "-k", "v", "-m", "ctrl"});
    EXPECT_EQ(window.waitForText("normal", nonLatin), nonLatin);
    EXPECT_EQ(window.clipboardReads(), std::vector<std::string>{"normal"});

    // Copying in the window replaces what the other program offered.
    window.focus("multiline");
    type("from the window");
    window.waitForText("multiline", "from the window");
    wtype({"-M", "ctrl", "-k", "a", "-k", "c", "-m", "ctrl"});
    EXPECT_TRUE(waitUntil([] { return paste() == "from the window"; }))
        << "the clipboard holds " << paste().value_or("nothing");
    EXPECT_EQ(window.keysStillDownAfter(), std::vector<std::string>{});
}

} // namespace
