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

KeyEvent flags(std::uint16_t code, std::uint64_t flags) {
    return {Kind::flagsChanged, code, flags, false};
}
KeyEvent keyDown(std::uint16_t code, std::uint64_t flags = 0) {
    return {Kind::keyDown, code, flags, false};
}

constexpr std::uint64_t shift = 0x20000;
const KeyEvent rightAltDown = flags(61, 0x40);
const KeyEvent rightAltUp = flags(61, 0);
const KeyEvent letter = keyDown(0xFFFF);
const KeyEvent click{Kind::mouseDown, 0, 0, false};

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
         {rightAltDown, keyDown(0xFFFF, 0x40), rightAltUp},
         {"down", "acted", "cancel", "up"}},
        {"double-tap.evemu",
         HotKey::rightOption,
         {},
         {rightAltDown, rightAltUp, rightAltDown, rightAltUp},
         {"down", "up", "down", "up"}},
        {"escape.evemu",
         HotKey::rightOption,
         {},
         {keyDown(KeyEvent::escapeKeyCode)},
         {"acted", "cancel"}},
        {"autorepeat.evemu",
         HotKey::rightOption,
         {},
         {rightAltDown, rightAltUp, letter},
         {"down", "up", "acted", "cancel"}},
        {"mouse-click.evemu", HotKey::rightOption, {}, {click}, {"acted"}},
        // Finger and touch are buttons too, but not typing.
        {"touchpad-click.evemu", HotKey::rightOption, {}, {click}, {"acted"}},
        // The same codes and flags as the X11 listener gives these keys.
        {"modifiers.evemu",
         HotKey::rightControl,
         {},
         {flags(56, shift), flags(62, shift | 0x2000), flags(62, shift), flags(56, 0),
          flags(59, 0x40000), flags(59, 0), flags(58, 0x80000), flags(58, 0), flags(55, 0x100000),
          flags(55, 0), flags(60, shift), flags(54, shift | 0x10), flags(54, shift), flags(60, 0),
          flags(57, 0x10000), flags(57, 0), flags(63, 0x800000), flags(63, 0)},
         {"down", "up"}},
        // The release went missing in the gap: the state read afterwards ends the hold, and
        // the torn "a" is not reported.
        {"dropped-release.evemu",
         HotKey::rightOption,
         {},
         {rightAltDown, rightAltUp, letter},
         {"down", "up", "acted", "cancel"}},
        // Still held after the gap: no release until the real one; left Shift, pressed in the
        // gap, counts from then on.
        {"dropped-while-held.evemu",
         HotKey::rightOption,
         {KEY_RIGHTALT, KEY_LEFTSHIFT},
         {rightAltDown, flags(56, 0x40 | shift), flags(61, shift), flags(56, 0)},
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
