// The evdev listener on folders standing in for /dev/input, and on real devices where the
// machine has them.
#include "TestSupport.h"
#include "desktop/evdev/EvdevKeyListener.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct FolderCase {
    const char* name;
    std::function<fs::path(const TempDir&)> make;
    const char* why;
};

TEST(EvdevKeyListener, FoldersWithoutAReadableKeyboardLeaveItUnavailable) {
    const std::vector<FolderCase> cases{
        {"missing folder", [](const TempDir& dir) { return dir / "input"; },
         "the folder is missing"},
        {"empty folder",
         [](const TempDir& dir) {
             fs::create_directory(dir / "input");
             return dir / "input";
         },
         "no input devices"},
        // What a crafted folder could hold: names of event nodes on things that are not.
        {"nodes that are not input devices",
         [](const TempDir& dir) {
             const fs::path input = dir / "input";
             writeAll(input / "event0", std::string(24 * 8, '\x01'));
             EXPECT_EQ(::mkfifo((input / "event1").c_str(), 0600), 0);
             fs::create_symlink("/dev/null", input / "event2");
             fs::create_directory(input / "event3");
             fs::create_symlink(input / "event4", input / "event4");
             writeAll(input / "mice", "not an event node");
             fs::create_directory(input / "by-id");
             return input;
         },
         "no device there has keys"},
    };
    for (const FolderCase& row : cases) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const fs::path input = row.make(dir);
        EvdevKeyListener listener(input);
        EXPECT_FALSE(listener.isAvailable());
        EXPECT_EQ(listener.unavailableReason(),
                  "no readable keyboard in " + input.string() + " (" + row.why + ")");
        EXPECT_EQ(listener.deviceCount(), 0u);
        int heard = 0;
        listener.start([&](const KeyEvent&) { ++heard; });
        QCoreApplication::processEvents();
        EXPECT_EQ(heard, 0);
    }
}

TEST(EvdevKeyListener, AnEventNodeTheUserMayNotReadSaysWhichGroupGrantsIt) {
    TempDir dir;
    const fs::path input = dir / "input";
    fs::create_directory(input);
    OrdinaryUser user({dir.path()});
    if (!user.active()) {
        GTEST_SKIP() << "cannot become an ordinary user, so mode bits do not stop this process";
    }
    writeAll(input / "event0", "");
    fs::permissions(input / "event0", fs::perms::none);
    EvdevKeyListener listener(input);
    EXPECT_FALSE(listener.isAvailable());
    EXPECT_EQ(listener.unavailableReason(),
              "no readable keyboard in " + input.string() + " (not in the input group)");
}

bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

struct UinputFree {
    void operator()(libevdev_uinput* device) const { libevdev_uinput_destroy(device); }
};
using Keyboard = std::unique_ptr<libevdev_uinput, UinputFree>;

// A keyboard the kernel believes in, made through uinput; null when it cannot be made.
Keyboard makeKeyboard(const char* name) {
    libevdev* description = libevdev_new();
    libevdev_set_name(description, name);
    libevdev_enable_event_type(description, EV_KEY);
    for (unsigned code : {KEY_A, KEY_ESC, KEY_RIGHTALT}) {
        libevdev_enable_event_code(description, EV_KEY, code, nullptr);
    }
    libevdev_uinput* made = nullptr;
    const int rc =
        libevdev_uinput_create_from_device(description, LIBEVDEV_UINPUT_OPEN_MANAGED, &made);
    libevdev_free(description);
    return Keyboard(rc == 0 ? made : nullptr);
}

bool readable(const Keyboard& keyboard) {
    const char* node = libevdev_uinput_get_devnode(keyboard.get());
    return node != nullptr && ::access(node, R_OK) == 0;
}

TEST(EvdevKeyListener, HearsTheRecordKeyOnAKeyboardPluggedInWhileListening) {
    if (!fs::exists("/dev/input")) {
        GTEST_SKIP() << "this machine has no /dev/input, so no real input device can be read";
    }
    if (::access("/dev/uinput", W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/uinput here, so no keyboard can be plugged in";
    }
    // One keyboard before the listener starts, so it is available; the one typed on comes after.
    const Keyboard first = makeKeyboard("parlwick test keyboard 1");
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitUntil([&] { return readable(first); }));
    EvdevKeyListener listener;
    ASSERT_TRUE(listener.isAvailable()) << listener.unavailableReason();
    std::vector<KeyEvent> heard;
    listener.start([&](const KeyEvent& event) {
        // The machine's own keyboards may be in use meanwhile.
        if (event.key == KeyEvent::Key{HotKey::rightOption}) {
            heard.push_back(event);
        }
    });
    const std::size_t before = listener.deviceCount();
    const Keyboard second = makeKeyboard("parlwick test keyboard 2");
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitUntil([&] { return listener.deviceCount() > before; }))
        << "the new keyboard was never opened";

    for (int value : {1, 0}) {
        libevdev_uinput_write_event(second.get(), EV_KEY, KEY_RIGHTALT, value);
        libevdev_uinput_write_event(second.get(), EV_SYN, SYN_REPORT, 0);
    }
    ASSERT_TRUE(waitUntil([&] { return heard.size() >= 2; }));
    const std::vector<KeyEvent> expected{{.key = HotKey::rightOption, .down = true},
                                         {.key = HotKey::rightOption, .down = false}};
    EXPECT_EQ(heard, expected);
}

} // namespace
