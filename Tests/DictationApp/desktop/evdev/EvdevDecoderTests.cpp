// The evdev decoder on event streams in evemu-record's text format, and what the record key
// makes of them.
#include "RecordKeyCalls.h"
#include "desktop/evdev/EvdevDecoder.h"
#include "dictation/RecordKeyMonitor.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Kind = KeyEvent::Kind;

struct RawEvent {
    unsigned type = 0;
    unsigned code = 0;
    int value = 0;
};

// The "E: <sec>.<usec> <type> <code> <value>" lines of an evemu recording; type and code in
// hex, value in decimal, anything after them a comment. Fails the test on a malformed line.
std::vector<RawEvent> readStream(const std::string& name) {
    const std::filesystem::path file = std::filesystem::path(EVDEV_STREAMS) / name;
    std::ifstream in(file);
    EXPECT_TRUE(in) << "cannot read " << file;
    std::vector<RawEvent> events;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("E: ")) {
            continue;
        }
        std::istringstream fields(line.substr(3));
        std::string time;
        std::string type;
        std::string code;
        std::string value;
        fields >> time >> type >> code >> value;
        RawEvent event;
        const auto parse = [](const std::string& text, auto& into, int base) {
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), into, base);
            return error == std::errc() && end == text.data() + text.size();
        };
        const bool ok = time.find('.') != std::string::npos && parse(type, event.type, 16) &&
                        parse(code, event.code, 16) && parse(value, event.value, 10);
        EXPECT_TRUE(ok) << name << ": malformed line: " << line;
        if (ok) {
            events.push_back(event);
        }
    }
    EXPECT_FALSE(events.empty()) << name << " holds no events";
    return events;
}

using Input = KeyEvent::Input;

KeyEvent record(HotKey key, bool down) {
    return {.key = key, .down = down};
}

const KeyEvent rightAltDown = record(HotKey::rightOption, true);
const KeyEvent rightAltUp = record(HotKey::rightOption, false);
const KeyEvent letter{.key = Input::otherKey};
const KeyEvent click{.key = Input::pointerButton};

struct Case {
    const char* stream;
    HotKey recordKey;
    // The keys the device says are down when it is asked after dropped events.
    std::set<unsigned> downAfterDrop;
    std::vector<KeyEvent> events;
    std::vector<std::string> calls;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> rows{
        {"hold-right-alt.evemu",
         HotKey::rightOption,
         {},
         {rightAltDown, rightAltUp},
         {"down", "up"}},
        {"right-alt-with-letter.evemu",
         HotKey::rightOption,
         {},
         {rightAltDown, letter, rightAltUp},
         {"down", "acted", "cancel", "up"}},
        {"double-tap.evemu",
         HotKey::rightOption,
         {},
         {rightAltDown, rightAltUp, rightAltDown, rightAltUp},
         {"down", "up", "down", "up"}},
        {"escape.evemu", HotKey::rightOption, {}, {{.key = Input::escape}}, {"acted", "cancel"}},
        {"autorepeat.evemu",
         HotKey::rightOption,
         {},
         {rightAltDown, rightAltUp, letter},
         {"down", "up", "acted", "cancel"}},
        {"mouse-click.evemu", HotKey::rightOption, {}, {click}, {"acted"}},
        // Finger and touch are buttons too, but not typing.
        {"touchpad-click.evemu", HotKey::rightOption, {}, {click}, {"acted"}},
        // Every modifier in turn: only the record keys say anything, and only the chosen one
        // drives the recording.
        {"modifiers.evemu",
         HotKey::rightControl,
         {},
         {record(HotKey::rightControl, true), record(HotKey::rightControl, false),
          record(HotKey::rightCommand, true), record(HotKey::rightCommand, false),
          record(HotKey::fn, true), record(HotKey::fn, false)},
         {"down", "up"}},
        // The release went missing in the gap: the state read afterwards ends the hold, and
        // the torn "a" is not reported.
        {"dropped-release.evemu",
         HotKey::rightOption,
         {},
         {rightAltDown, rightAltUp, letter},
         {"down", "up", "acted", "cancel"}},
        // Still held after the gap: no release until the real one; left Shift, pressed in the
        // gap, is no key either way.
        {"dropped-while-held.evemu",
         HotKey::rightOption,
         {KEY_RIGHTALT, KEY_LEFTSHIFT},
         {rightAltDown, rightAltUp},
         {"down", "up"}},
    };
    return rows;
}

TEST(EvdevDecoder, RecordedStreamsBecomeKeyEventsAndRecordKeyCalls) {
    for (const Case& row : cases()) {
        SCOPED_TRACE(row.stream);
        EvdevDecoder decoder([&](unsigned code) { return row.downAfterDrop.contains(code); });
        std::vector<KeyEvent> events;
        for (const RawEvent& raw : readStream(row.stream)) {
            for (const KeyEvent& event : decoder.feed(raw.type, raw.code, raw.value)) {
                events.push_back(event);
            }
        }
        EXPECT_EQ(events, row.events);

        RecordKeyCalls calls;
        RecordKeyMonitor monitor(calls, [&] { return row.recordKey; });
        for (const KeyEvent& event : events) {
            monitor.handle(event);
        }
        EXPECT_EQ(calls.made, row.calls);
    }
}

TEST(EvdevDecoder, EachCodeIsItsKeyAndOnlyRecordKeysArePressedByAResync) {
    const std::optional<KeyEvent> none;
    const struct {
        unsigned code;
        std::optional<KeyEvent> press;
    } rows[] = {
        {KEY_RIGHTALT, rightAltDown},
        {KEY_RIGHTMETA, record(HotKey::rightCommand, true)},
        {KEY_RIGHTCTRL, record(HotKey::rightControl, true)},
        {KEY_FN, record(HotKey::fn, true)},
        {KEY_ESC, KeyEvent{.key = Input::escape}},
        {KEY_A, letter},
        {KEY_LEFTALT, none},
        {KEY_LEFTMETA, none},
        {KEY_RIGHTSHIFT, none},
        {KEY_NUMLOCK, none},
        {BTN_LEFT, click},
        {BTN_RIGHT, none},
        {BTN_TOUCH, none},
        {KEY_RESERVED, none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        EvdevDecoder decoder([&](unsigned code) { return code == row.code; });
        const auto pressed = decoder.feed(EV_KEY, row.code, 1);
        EXPECT_EQ(pressed, row.press ? std::vector{*row.press} : std::vector<KeyEvent>{});
        const auto released = decoder.feed(EV_KEY, row.code, 0);
        const bool record = row.press && std::holds_alternative<HotKey>(row.press->key);
        if (record) {
            KeyEvent up = *row.press;
            up.down = false;
            EXPECT_EQ(released, std::vector{up});
        } else {
            EXPECT_TRUE(released.empty());
        }
        // Pressed while events were dropped: only a record key is reported down afterwards.
        decoder.feed(EV_SYN, SYN_DROPPED, 0);
        EXPECT_EQ(decoder.feed(EV_SYN, SYN_REPORT, 0),
                  record ? std::vector{*row.press} : std::vector<KeyEvent>{});
    }
}

TEST(EvdevDecoder, ADropIsSettledByTheReportAfterItOrAnExplicitResync) {
    std::set<unsigned> down{KEY_RIGHTALT};
    EvdevDecoder decoder([&](unsigned code) { return down.contains(code); });
    EXPECT_EQ(decoder.feed(EV_KEY, KEY_RIGHTALT, 1), std::vector{rightAltDown});

    // Still held at the first resync; released by the time of the second.
    EXPECT_TRUE(decoder.feed(EV_SYN, SYN_DROPPED, 0).empty());
    EXPECT_TRUE(decoder.awaitingResync());
    EXPECT_TRUE(decoder.feed(EV_KEY, KEY_RIGHTALT, 0).empty());
    EXPECT_TRUE(decoder.feed(EV_SYN, SYN_REPORT, 0).empty());
    EXPECT_FALSE(decoder.awaitingResync());

    EXPECT_TRUE(decoder.feed(EV_SYN, SYN_DROPPED, 0).empty());
    down.clear();
    EXPECT_EQ(decoder.resync(), std::vector{rightAltUp});
    EXPECT_FALSE(decoder.awaitingResync());
    // The release that then arrives late is not a second one.
    EXPECT_TRUE(decoder.feed(EV_KEY, KEY_RIGHTALT, 0).empty());
}

} // namespace
