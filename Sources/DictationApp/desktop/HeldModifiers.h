#pragma once

#include "desktop/KeyListener.h"

#include <functional>
#include <map>
#include <optional>
#include <vector>

// The record keys now down, by the backend's own code for the key, turning the backend's
// presses and releases into key events. Two codes can be one record key (AltGr layouts), so a
// record key is up only once all of its codes are.
class HeldModifiers {
  public:
    // What a press or release of the key with `code` means, given what the backend's table
    // calls it (nothing for a modifier that is not a record key). Only record keys report
    // releases, and only once.
    std::optional<KeyEvent> event(unsigned code, bool press, std::optional<KeyEvent::Key> key,
                                  bool synthetic);

    bool isDown(unsigned code) const { return down_.contains(code); }
    bool empty() const { return down_.empty(); }

    // Releases for the keys believed down that `isDown` says are up: their release events
    // went missing (a grab or focus change).
    std::vector<KeyEvent> reconcile(const std::function<bool(unsigned code)>& isDown);

  private:
    KeyEvent changed(HotKey key, bool synthetic) const;

    std::map<unsigned, HotKey> down_;
};
