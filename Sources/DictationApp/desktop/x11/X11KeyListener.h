#pragma once

#include "desktop/KeyListener.h"
#include "desktop/SyntheticEvents.h"

#include <memory>
#include <optional>

// Every key press and release and every left click on the X11 desktop, from XInput2 raw
// events on the root window. Events the program sent itself (written down in `synthetic`) come
// out marked. Main thread only.
class X11KeyListener : public KeyListener {
  public:
    // How often the real state of a held record key is read, so a release the server never
    // reported (a grab or focus change swallowed it) still ends the hold.
    static constexpr int heldKeyPollMs = 100;

    explicit X11KeyListener(SyntheticEvents& synthetic);
    ~X11KeyListener() override;

    bool isAvailable() const override;
    std::string unavailableReason() const override;
    void start(std::function<void(const KeyEvent&)> sink) override;

    // The key a keysym stands for; nothing for a modifier that is not a record key.
    static std::optional<KeyEvent::Key> keyOf(unsigned long keysym);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
