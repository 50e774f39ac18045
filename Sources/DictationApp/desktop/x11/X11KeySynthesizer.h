#pragma once

#include "desktop/KeySynthesizer.h"
#include "desktop/SyntheticEvents.h"

#include <memory>

// Keys sent through the X server's XTEST extension, as if typed on the keyboard. Every key
// event is written down in `synthetic` first, so the key listener can tell it from the user's.
// Main thread only.
class X11KeySynthesizer : public KeySynthesizer {
  public:
    // Typing maps each character's keysym onto a free keycode. Programs read a changed keymap
    // only when they get to it (1 ms between changes garbled text, 5 ms did not, for an
    // unhurried program), so a keycode must keep its meaning until its press has been read:
    // changes come at most this often, each on the keycode used longest ago...
    static constexpr int settleMs = 15;
    // ...among at most this many.
    static constexpr int maxKeys = 32;
    // The borrowed keycodes are given back this long after the last character.
    static constexpr int releaseMs = 500;

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
