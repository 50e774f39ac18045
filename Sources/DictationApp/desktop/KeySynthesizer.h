#pragma once

#include "desktop/SynthesisResult.h"

#include <functional>
#include <string>

// How a paste is asked for: terminal emulators take Ctrl+Shift+V, since Ctrl+V is a control
// character there.
enum class PasteChord { ctrlV, ctrlShiftV };

// Keys this program sends as if the user pressed them.
class KeySynthesizer {
  public:
    virtual ~KeySynthesizer() = default;

    virtual bool isAvailable() const = 0;
    virtual std::string unavailableReason() const = 0;

    // Sends the chord at once, or answers retry while one of the user's modifiers is down
    // (Ctrl+V with Alt still held is another shortcut).
    virtual SynthesisResult sendPasteChord(PasteChord chord) = 0;
    // Starts typing `text` (UTF-8) character by character on later turns of the main loop and
    // answers ok, then calls `done` with the outcome. Answers retry while one of the user's
    // modifiers is down, or failed, without typing anything or calling `done`.
    virtual SynthesisResult type(const std::string& text,
                                 std::function<void(SynthesisResult)> done) = 0;
};
