#pragma once

#include "desktop/KeyListener.h"

#include <memory>
#include <vector>

// Several sources of the record key at once (a portal shortcut and bus commands, say): every
// one that is available delivers to the same sink.
class KeyListeners : public KeyListener {
  public:
    void add(std::unique_ptr<KeyListener> listener);

    bool isAvailable() const override;
    // Each unavailable listener's reason, joined by "; ".
    std::string unavailableReason() const override;
    void start(std::function<void(const KeyEvent&)> sink) override;

  private:
    std::vector<std::unique_ptr<KeyListener>> listeners_;
};
