#include "desktop/evdev/EvdevDecoder.h"

#include <array>
#include <linux/input-event-codes.h>
#include <optional>
#include <utility>

namespace {

using Input = KeyEvent::Input;

// Keys by evdev code; the other modifiers are no key at all, since holding Shift is not typing.
constexpr std::array<std::pair<unsigned, std::optional<KeyEvent::Key>>, 13> keys{{
    {KEY_RIGHTALT, HotKey::rightOption},
    {KEY_RIGHTMETA, HotKey::rightCommand},
    {KEY_RIGHTCTRL, HotKey::rightControl},
    {KEY_FN, HotKey::fn},
    {KEY_ESC, Input::escape},
    {BTN_LEFT, Input::pointerButton},
    {KEY_LEFTSHIFT, std::nullopt},
    {KEY_RIGHTSHIFT, std::nullopt},
    {KEY_LEFTCTRL, std::nullopt},
    {KEY_LEFTALT, std::nullopt},
    {KEY_LEFTMETA, std::nullopt},
    {KEY_CAPSLOCK, std::nullopt},
    {KEY_NUMLOCK, std::nullopt},
}};

// Mouse, touchpad, joystick and tablet buttons share EV_KEY with the keys; a finger on a
// touchpad is not typing.
bool isButton(unsigned code) {
    return (code >= BTN_MISC && code < KEY_OK) || (code >= BTN_DPAD_UP && code <= BTN_DPAD_RIGHT) ||
           (code >= BTN_TRIGGER_HAPPY && code <= BTN_TRIGGER_HAPPY40);
}

std::optional<KeyEvent::Key> keyOf(unsigned code) {
    for (const auto& [known, key] : keys) {
        if (known == code) {
            return key;
        }
    }
    if (code == KEY_RESERVED || isButton(code)) {
        return std::nullopt;
    }
    return Input::otherKey;
}

} // namespace

EvdevDecoder::EvdevDecoder(KeyState keyState) : keyState_(std::move(keyState)) {}

std::vector<KeyEvent> EvdevDecoder::feed(unsigned type, unsigned code, int value) {
    if (type == EV_SYN && code == SYN_DROPPED) {
        dropped_ = true;
        return {};
    }
    // The events up to the next report are a torn frame; the state read after it is the truth.
    if (dropped_) {
        if (type == EV_SYN && code == SYN_REPORT) {
            return resync();
        }
        return {};
    }
    // 1 press, 0 release, 2 autorepeat: a held key is one press.
    if (type != EV_KEY || (value != 0 && value != 1)) {
        return {};
    }
    if (const auto event = held_.event(code, value == 1, keyOf(code), false)) {
        return {*event};
    }
    return {};
}

std::vector<KeyEvent> EvdevDecoder::resync() {
    dropped_ = false;
    std::vector<KeyEvent> events = held_.reconcile(keyState_);
    for (const auto& [code, key] : keys) {
        if (key && std::holds_alternative<HotKey>(*key) && !held_.isDown(code) && keyState_(code)) {
            events.push_back(*held_.event(code, true, key, false));
        }
    }
    return events;
}
