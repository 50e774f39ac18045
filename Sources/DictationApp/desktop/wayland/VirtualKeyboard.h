#pragma once

#include "desktop/KeySynthesizer.h"

#include <memory>

class WaylandConnection;

// Keys sent through the compositor's virtual-keyboard protocol (wlroots compositors), with a
// keymap we upload, so any character can be typed whatever the user's layout. One keyboard
// for the whole run; no key is left down, whatever happens. Main thread only.
class VirtualKeyboard : public KeySynthesizer {
  public:
    // A client reads a new keymap when it gets to it: keys pressed before that would be
    // read in the old one.
    static constexpr int keymapSettleMs = 60;
    // Characters typed per turn of the main loop, and the pause between turns.
    static constexpr std::size_t charactersPerTurn = 8;
    static constexpr int turnMs = 8;

    explicit VirtualKeyboard(std::shared_ptr<WaylandConnection> connection);
    ~VirtualKeyboard() override;

    bool isAvailable() const override;
    std::string unavailableReason() const override;
    SynthesisResult sendPasteChord(PasteChord chord) override;
    SynthesisResult type(const std::string& text,
                         std::function<void(SynthesisResult)> done) override;

    // Whether the compositor offers what this needs.
    static bool isOffered(const WaylandConnection& connection);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
