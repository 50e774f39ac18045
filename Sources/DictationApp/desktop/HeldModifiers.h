#pragma once

#include "desktop/KeyListener.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// The modifier keys now down, by the desktop's keycode, each with its code and flag in the
// record key's terms. Turns presses and releases into flags-changed events.
class HeldModifiers {
  public:
    struct Modifier {
        std::uint16_t code = 0;
        std::uint64_t flag = 0;
        bool operator==(const Modifier&) const = default;
    };

    // The flags-changed event for a press or release; nothing for the release of a key that
    // was not down (its release was already reported).
    std::optional<KeyEvent> press(unsigned keycode, Modifier modifier, bool synthetic);
    std::optional<KeyEvent> release(unsigned keycode, Modifier modifier, bool synthetic);

    // The modifiers of every key down.
    std::uint64_t flags() const;
    bool isDown(unsigned keycode) const { return down_.contains(keycode); }
    // Whether a key whose flag passes `isRecordFlag` is down: its release must not be missed.
    bool holds(const std::function<bool(std::uint64_t flag)>& isRecordFlag) const;

    // Releases for the keys believed down that `isDown` says are up: their release events
    // went missing (a grab or focus change).
    std::vector<KeyEvent> reconcile(const std::function<bool(unsigned keycode)>& isDown);

  private:
    std::map<unsigned, Modifier> down_;
};
