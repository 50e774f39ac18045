#pragma once

#include "desktop/HeldModifiers.h"
#include "desktop/KeyListener.h"

#include <functional>
#include <vector>

// The events of one evdev device (type, code, value as the kernel sends them) as key events.
// Keys are physical here: the layout plays no part.
class EvdevDecoder {
  public:
    // Whether the key with this evdev code is down now, as the device reports it.
    using KeyState = std::function<bool(unsigned code)>;

    explicit EvdevDecoder(KeyState keyState);

    // What one event means; usually nothing, at most one event, several after a resync.
    std::vector<KeyEvent> feed(unsigned type, unsigned code, int value);

    // Whether events were dropped and the key state not yet read again.
    bool awaitingResync() const { return dropped_; }
    // Reads the key state after dropped events: record keys believed down that are up now are
    // released (so the end of a hold is never missed), and record keys now down are pressed.
    std::vector<KeyEvent> resync();

  private:
    KeyState keyState_;
    HeldModifiers held_;
    bool dropped_ = false;
};
