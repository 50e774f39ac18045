#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A key or mouse event of the whole desktop, in the record key's terms: modifier changes
// carry the key's code and the flags of the modifiers now down (see HotKeys), every other key
// is a key-down, and a left click is a mouse-down. Where the desktop only tells us that the
// shortcut bound to dictation went down, up or was invoked once (a portal shortcut, a command
// the compositor runs), the record-key kinds say so whatever key that shortcut is.
struct KeyEvent {
    enum class Kind { flagsChanged, keyDown, mouseDown, recordKeyDown, recordKeyUp, recordToggle };

    Kind kind = Kind::keyDown;
    std::uint16_t keyCode = 0;
    std::uint64_t flags = 0;
    // Sent by this program itself (a paste chord or typed text), not by the user.
    bool synthetic = false;

    static constexpr std::uint16_t escapeKeyCode = 53;

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
