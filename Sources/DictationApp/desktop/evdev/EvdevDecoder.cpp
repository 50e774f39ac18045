#include "desktop/evdev/EvdevDecoder.h"

#include "HotKey.h"

#include <array>
#include <linux/input-event-codes.h>
#include <optional>
#include <utility>

namespace {

using Modifier = HeldModifiers::Modifier;

constexpr std::uint16_t otherCode = 0xFFFF;

Modifier recordKey(HotKey key) {
    return {HotKeys::keyCode(key), HotKeys::flag(key)};
}

// The modifier keys by evdev code, with the codes and flags X11KeyListener gives their keysyms.
const std::array<std::pair<unsigned, Modifier>, 11>& modifiers() {
    static const std::array<std::pair<unsigned, Modifier>, 11> table{{
        {KEY_RIGHTALT, recordKey(HotKey::rightOption)},
        {KEY_RIGHTMETA, recordKey(HotKey::rightCommand)},
        {KEY_RIGHTCTRL, recordKey(HotKey::rightControl)},
        {KEY_FN, recordKey(HotKey::fn)},
        {KEY_LEFTSHIFT, {56, 0x20000}},
        {KEY_RIGHTSHIFT, {60, 0x20000}},
        {KEY_LEFTCTRL, {59, 0x40000}},
        {KEY_LEFTALT, {58, 0x80000}},
        {KEY_LEFTMETA, {55, 0x100000}},
        {KEY_CAPSLOCK, {57, 0x10000}},
        {KEY_NUMLOCK, {otherCode, 0}},
    }};
    return table;
}

std::optional<Modifier> modifierOf(unsigned code) {
    for (const auto& [key, modifier] : modifiers()) {
        if (key == code) {
            return modifier;
        }
    }
    return std::nullopt;
}

// Mouse, touchpad, joystick and tablet buttons share EV_KEY with the keys; a finger on a
// touchpad is not typing.
bool isButton(unsigned code) {
    return (code >= BTN_MISC && code < KEY_OK) || (code >= BTN_DPAD_UP && code <= BTN_DPAD_RIGHT) ||
           (code >= BTN_TRIGGER_HAPPY && code <= BTN_TRIGGER_HAPPY40);
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
    if (type != EV_KEY) {
        return {};
    }
    return key(code, value);
}

std::vector<KeyEvent> EvdevDecoder::key(unsigned code, int value) {
    // 1 press, 0 release, 2 autorepeat: a held key is one press.
    const bool press = value == 1;
    if (value != 0 && !press) {
        return {};
    }
    if (const auto modifier = modifierOf(code)) {
        const auto event =
            press ? held_.press(code, *modifier, false) : held_.release(code, *modifier, false);
        if (event) {
            return {*event};
        }
        return {};
    }
    if (!press) {
        return {};
    }
    if (code == BTN_LEFT) {
        return {{KeyEvent::Kind::mouseDown, 0, held_.flags(), false}};
    }
    if (code == KEY_RESERVED || isButton(code)) {
        return {};
    }
    const std::uint16_t keyCode = code == KEY_ESC ? KeyEvent::escapeKeyCode : otherCode;
    return {{KeyEvent::Kind::keyDown, keyCode, held_.flags(), false}};
}

std::vector<KeyEvent> EvdevDecoder::resync() {
    dropped_ = false;
    std::vector<KeyEvent> events = held_.reconcile(keyState_);
    for (const auto& [code, modifier] : modifiers()) {
        if (!held_.isDown(code) && keyState_(code)) {
            if (const auto event = held_.press(code, modifier, false)) {
                events.push_back(*event);
            }
        }
    }
    return events;
}
