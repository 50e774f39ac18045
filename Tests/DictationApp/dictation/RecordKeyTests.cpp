#include "LogCapture.h"
#include "RecordKeyCalls.h"
#include "desktop/HeldModifiers.h"
#include "desktop/SyntheticEvents.h"
#include "dictation/RecordKeyMonitor.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Kind = KeyEvent::Kind;

using Calls = RecordKeyCalls;

KeyEvent flags(HotKey key, bool down) {
    return {Kind::flagsChanged, HotKeys::keyCode(key), down ? HotKeys::flag(key) : 0, false};
}
KeyEvent keyDown(std::uint16_t code) {
    return {Kind::keyDown, code, 0, false};
}
const KeyEvent leftAltDown{Kind::flagsChanged, 58, 0x80000, false};
const KeyEvent letter = keyDown(0xFFFF);
const KeyEvent escape = keyDown(KeyEvent::escapeKeyCode);
const KeyEvent click{Kind::mouseDown, 0, 0, false};

KeyEvent synthetic(KeyEvent event) {
    event.synthetic = true;
    return event;
}

struct Case {
    const char* name;
    bool handsFree;
    std::vector<KeyEvent> events;
    std::vector<std::string> calls;
};

TEST(RecordKeyMonitor, EventsBecomeTheControllersCalls) {
    const std::vector<Case> cases{
        {"hold and release",
         false,
         {flags(HotKey::rightOption, true), flags(HotKey::rightOption, false)},
         {"down", "up"}},
        {"left Alt is another key", false, {leftAltDown}, {}},
        {"another record key is ignored", false, {flags(HotKey::rightControl, true)}, {}},
        {"a modifier change while held downs again",
         false,
         {flags(HotKey::rightOption, true),
          {Kind::flagsChanged, HotKeys::keyCode(HotKey::rightOption), 0x40 | 0x20000, false}},
         {"down", "down"}},
        {"any key while held cancels",
         false,
         {flags(HotKey::rightOption, true), letter},
         {"down", "acted", "cancel"}},
        {"escape while held cancels", false, {escape}, {"acted", "cancel"}},
        {"hands-free: a letter only acts", true, {letter}, {"acted"}},
        {"hands-free: escape cancels", true, {escape}, {"acted", "cancel"}},
        {"a click acts", false, {click}, {"acted"}},
        {"a bound shortcut is the record key whatever key is chosen",
         false,
         {{Kind::recordKeyDown, 0, 0, false},
          {Kind::recordKeyUp, 0, 0, false},
          {Kind::recordToggle, 0, 0, false}},
         {"down", "up", "toggle"}},
        {"our own keys do nothing",
         false,
         {synthetic(letter), synthetic(escape), synthetic(click),
          synthetic(flags(HotKey::rightOption, true))},
         {}},
    };
    for (const auto& c : cases) {
        Calls calls;
        calls.handsFree = c.handsFree;
        RecordKeyMonitor monitor(calls, [] { return HotKey::rightOption; });
        for (const auto& event : c.events) {
            monitor.handle(event);
        }
        EXPECT_EQ(calls.made, c.calls) << c.name;
    }
}

TEST(RecordKeyMonitor, ANewlyChosenKeyCountsFromTheNextEvent) {
    Calls calls;
    HotKey current = HotKey::rightOption;
    RecordKeyMonitor monitor(calls, [&] { return current; });
    monitor.handle(flags(HotKey::rightControl, true));
    current = HotKey::rightControl;
    monitor.handle(flags(HotKey::rightControl, true));
    monitor.handle(flags(HotKey::rightOption, true));
    monitor.handle(flags(HotKey::rightControl, false));
    EXPECT_EQ(calls.made, (std::vector<std::string>{"down", "up"}));
}

class FakeListener : public KeyListener {
  public:
    bool available = true;
    std::function<void(const KeyEvent&)> sink;
    bool isAvailable() const override { return available; }
    std::string unavailableReason() const override { return "no X display"; }
    void start(std::function<void(const KeyEvent&)> s) override { sink = std::move(s); }
};

TEST(RecordKeyMonitor, StartingShowsAndLogsTheReadyLine) {
    Calls calls;
    RecordKeyMonitor monitor(calls, [] { return HotKey::rightCommand; });
    FakeListener listener;
    std::vector<std::string> shown;
    LogCapture log;
    Options raw;
    raw.cleanup = false;
    ASSERT_TRUE(
        monitor.startListening(listener, raw, [&](const std::string& s) { shown.push_back(s); }));
    EXPECT_EQ(shown, std::vector<std::string>{"Hold right Super to talk"});
    EXPECT_TRUE(log.contains("ready. hold right Super to talk (raw mode, no cleanup)\n"))
        << log.text();
    ASSERT_TRUE(listener.sink);
    listener.sink(flags(HotKey::rightCommand, true));
    EXPECT_EQ(calls.made, std::vector<std::string>{"down"});

    EXPECT_EQ(RecordKeyMonitor::readyLine(HotKey::fn, true), "ready. hold fn to talk");
    EXPECT_EQ(RecordKeyMonitor::statusText(HotKey::rightControl), "Hold right Ctrl to talk");
}

TEST(RecordKeyMonitor, WithoutAListenerNothingIsReady) {
    Calls calls;
    RecordKeyMonitor monitor(calls, [] { return HotKey::rightOption; });
    FakeListener listener;
    listener.available = false;
    bool shown = false;
    LogCapture log;
    EXPECT_FALSE(
        monitor.startListening(listener, Options{}, [&](const std::string&) { shown = true; }));
    EXPECT_FALSE(shown);
    EXPECT_FALSE(listener.sink);
    EXPECT_TRUE(log.contains("key listener unavailable: no X display")) << log.text();
    EXPECT_FALSE(log.contains("ready.")) << log.text();
}

TEST(HeldModifiers, FlagsAreTheUnionOfTheKeysDown) {
    HeldModifiers held;
    const HeldModifiers::Modifier alt{61, 0x40};
    const HeldModifiers::Modifier control{59, 0x40000};
    EXPECT_EQ(held.press(108, alt, false), (KeyEvent{Kind::flagsChanged, 61, 0x40, false}));
    EXPECT_EQ(held.press(37, control, true), (KeyEvent{Kind::flagsChanged, 59, 0x40040, true}));
    EXPECT_EQ(held.release(37, control, true), (KeyEvent{Kind::flagsChanged, 59, 0x40, true}));
    // A second release of the same key reports nothing.
    EXPECT_EQ(held.release(37, control, false), std::nullopt);
    EXPECT_TRUE(held.holds([](std::uint64_t f) { return f == 0x40; }));
    EXPECT_EQ(held.release(108, alt, false), (KeyEvent{Kind::flagsChanged, 61, 0, false}));
    EXPECT_FALSE(held.holds([](std::uint64_t) { return true; }));
}

TEST(HeldModifiers, AMissedReleaseIsReportedOnceTheKeyIsSeenUp) {
    HeldModifiers held;
    held.press(108, {61, 0x40}, false);
    held.press(50, {56, 0x20000}, false);
    EXPECT_TRUE(held.reconcile([](unsigned) { return true; }).empty());
    const auto released = held.reconcile([](unsigned code) { return code != 108; });
    EXPECT_EQ(released, (std::vector<KeyEvent>{{Kind::flagsChanged, 61, 0x20000, false}}));
    // The late release event itself then changes nothing.
    EXPECT_EQ(held.release(108, {61, 0x40}, false), std::nullopt);
    EXPECT_EQ(held.flags(), 0x20000u);
}

TEST(SyntheticEvents, EachExpectedEventIsClaimedOnceInTime) {
    using namespace std::chrono_literals;
    SyntheticEvents events;
    const auto t0 = SyntheticEvents::Clock::time_point{} + 100s;
    events.expect(55, true, t0);
    events.expect(55, false, t0);
    events.expect(55, true, t0);
    EXPECT_TRUE(events.claim(55, true, t0 + 10ms));
    EXPECT_TRUE(events.claim(55, true, t0 + 10ms));
    // The user's own press of the same key is not ours once ours were claimed.
    EXPECT_FALSE(events.claim(55, true, t0 + 20ms));
    EXPECT_FALSE(events.claim(37, false, t0 + 20ms));
    EXPECT_EQ(events.pending(), 1u); // the release, still on its way
    // An event that never came back stops matching.
    EXPECT_FALSE(events.claim(55, false, t0 + SyntheticEvents::lifetime + 1ms));
    EXPECT_EQ(events.pending(), 0u);
}

} // namespace

namespace {} // namespace
