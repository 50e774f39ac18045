#pragma once

#include "KeySynthesizer.h"
#include "SyntheticEvents.h"

#include <memory>

// Keys sent through the X server's XTEST extension, as if typed on the keyboard. Every key
// event is written down in `synthetic` first, so the key listener can tell it from the user's.
// Main thread only.
class X11KeySynthesizer : public KeySynthesizer {
  public:
    // Pause after each batch of typed characters and before a remapped key is reused:
    // programs read a changed keymap only when they get to it (1 ms garbled text, 5 ms did
    // not, for an unhurried program), so a key must keep its meaning until they have read the
    // events that use it.
    static constexpr int settleMs = 30;
    // A busy program may read the keymap much later than that; the borrowed keycodes keep
    // the last characters' meaning this long after typing before they are given back.
    static constexpr int releaseMs = 500;
    // How many free keycodes typing uses at once.
    static constexpr int maxBatch = 8;

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
