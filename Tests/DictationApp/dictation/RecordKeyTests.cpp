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
using Input = KeyEvent::Input;

using Calls = RecordKeyCalls;

KeyEvent record(HotKey key, bool down) {
    return {.key = key, .down = down};
}
const KeyEvent letter{.key = Input::otherKey};
const KeyEvent escape{.key = Input::escape};
const KeyEvent click{.key = Input::pointerButton};

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
         {record(HotKey::rightOption, true), record(HotKey::rightOption, false)},
         {"down", "up"}},
        {"another record key is ignored",
         false,
         {record(HotKey::rightControl, true), record(HotKey::rightControl, false)},
         {}},
        {"the key reported down again downs again",
         false,
         {record(HotKey::rightOption, true), record(HotKey::rightOption, true)},
         {"down", "down"}},
        {"any key while held cancels",
         false,
         {record(HotKey::rightOption, true), letter},
         {"down", "acted", "cancel"}},
        {"escape while held cancels", false, {escape}, {"acted", "cancel"}},
        {"hands-free: a letter only acts", true, {letter}, {"acted"}},
        {"hands-free: escape cancels", true, {escape}, {"acted", "cancel"}},
        {"a click acts", false, {click}, {"acted"}},
        {"hands-free: a click only acts", true, {click}, {"acted"}},
        {"a bound shortcut is the record key whatever key is chosen",
         false,
         {{.kind = Kind::recordKeyDown}, {.kind = Kind::recordKeyUp}, {.kind = Kind::recordToggle}},
         {"down", "up", "toggle"}},
        {"our own keys do nothing",
         false,
         {synthetic(letter), synthetic(escape), synthetic(click),
          synthetic(record(HotKey::rightOption, true))},
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
    monitor.handle(record(HotKey::rightControl, true));
    current = HotKey::rightControl;
    monitor.handle(record(HotKey::rightControl, true));
    monitor.handle(record(HotKey::rightOption, true));
    monitor.handle(record(HotKey::rightControl, false));
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
    listener.sink(record(HotKey::rightCommand, true));
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

TEST(HeldModifiers, ARecordKeyIsDownWhileAnyOfItsCodesIs) {
    HeldModifiers held;
    const auto event = [&](unsigned code, bool press, std::optional<KeyEvent::Key> key) {
        return held.event(code, press, key, code == 37);
    };
    // 108 and 92 both stand for right Alt (an AltGr layout); 50 is left Shift, no key here.
    EXPECT_EQ(event(108, true, HotKey::rightOption), record(HotKey::rightOption, true));
    EXPECT_EQ(event(92, true, HotKey::rightOption), record(HotKey::rightOption, true));
    EXPECT_EQ(event(50, true, std::nullopt), std::nullopt);
    EXPECT_EQ(event(37, true, HotKey::rightControl), synthetic(record(HotKey::rightControl, true)));
    EXPECT_EQ(event(37, false, HotKey::rightControl),
              synthetic(record(HotKey::rightControl, false)));
    EXPECT_EQ(event(108, false, HotKey::rightOption), record(HotKey::rightOption, true));
    EXPECT_FALSE(held.empty());
    // The release reports the key that went down, whatever the table says now.
    EXPECT_EQ(event(92, false, std::nullopt), record(HotKey::rightOption, false));
    EXPECT_TRUE(held.empty());
    // A second release, and the release of anything but a record key, report nothing.
    EXPECT_EQ(event(92, false, HotKey::rightOption), std::nullopt);
    EXPECT_EQ(event(50, false, std::nullopt), std::nullopt);
    // Other keys report their press only.
    EXPECT_EQ(event(38, true, Input::otherKey), letter);
    EXPECT_EQ(event(38, false, Input::otherKey), std::nullopt);
    EXPECT_EQ(event(9, true, Input::escape), escape);
}

TEST(HeldModifiers, AMissedReleaseIsReportedOnceTheKeyIsSeenUp) {
    HeldModifiers held;
    held.event(108, true, HotKey::rightOption, false);
    held.event(105, true, HotKey::rightControl, false);
    EXPECT_TRUE(held.reconcile([](unsigned) { return true; }).empty());
    const auto released = held.reconcile([](unsigned code) { return code != 108; });
    EXPECT_EQ(released, std::vector{record(HotKey::rightOption, false)});
    // The late release event itself then changes nothing.
    EXPECT_EQ(held.event(108, false, HotKey::rightOption, false), std::nullopt);
    EXPECT_TRUE(held.isDown(105));
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
