#pragma once

#include "desktop/KeySynthesizer.h"
#include "desktop/SyntheticEvents.h"

#include <memory>

// Keys sent through the X server's XTEST extension, as if typed on the keyboard. Every key
// event is written down in `synthetic` first, so the key listener can tell it from the user's.
// Main thread only.
class X11KeySynthesizer : public KeySynthesizer {
  public:
    // Typing uses the keys the layout has for a character, with Shift where needed, and lends
    // free keycodes to the others. Programs read a changed keymap only when they get to its
    // notice, and then read the newest one, so a lent keycode is lent again only once the
    // focused window has answered a ping sent after its last press. At most this many are
    // lent at a time.
    static constexpr int maxKeys = 32;
    // Characters sent in one turn of the main loop.
    static constexpr int chunk = 64;
    // How long the focused window may take to answer the ping...
    static constexpr int pingLimitMs = 5000;
    // ...and the wait instead for a window that does not answer pings.
    static constexpr int unansweredWaitMs = 500;

    explicit X11KeySynthesizer(SyntheticEvents& synthetic);
    ~X11KeySynthesizer() override;

    bool isAvailable() const override;
    std::string unavailableReason() const override;
    SynthesisResult sendPasteChord(PasteChord chord) override;
    SynthesisResult type(const std::string& text,
                         std::function<void(SynthesisResult)> done) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
