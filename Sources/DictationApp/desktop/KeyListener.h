#pragma once

#include "HotKey.h"

#include <functional>
#include <string>
#include <variant>

// A key or pointer event of the whole desktop, in the few terms the record key needs. Each
// backend maps its own codes onto `Key`: the record keys report going down and up, Escape,
// any other key and a left click report presses, and the other modifiers report nothing,
// since holding Shift is not typing. Where the desktop only tells us that the shortcut bound
// to dictation went down, up or was invoked once (a portal shortcut, a command the compositor
// runs), the record-key kinds say so whatever key that shortcut is.
struct KeyEvent {
    enum class Input { escape, otherKey, pointerButton };
    using Key = std::variant<HotKey, Input>;
    enum class Kind { key, recordKeyDown, recordKeyUp, recordToggle };

    Kind kind = Kind::key;
    Key key = Input::otherKey;
    // Whether `key` is down after this event.
    bool down = true;
    // Sent by this program itself (a paste chord or typed text), not by the user.
    bool synthetic = false;

    bool operator==(const KeyEvent&) const = default;
};

// A source of desktop-wide key and mouse events.
class KeyListener {
  public:
    virtual ~KeyListener() = default;

    // Whether the desktop lets this backend see every key; `unavailableReason` says why not.
    virtual bool isAvailable() const = 0;
    virtual std::string unavailableReason() const = 0;

    // Delivers events to `sink` on the main thread from now on, for the rest of the
    // listener's life. Does nothing when the listener is not available.
    virtual void start(std::function<void(const KeyEvent&)> sink) = 0;
};
