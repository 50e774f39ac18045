#pragma once

#include "ManualScheduler.h"
#include "desktop/KeySynthesizer.h"

#include <string>
#include <utility>
#include <vector>

// Writes down the chords and the typing it is asked for, on the test's time.
class FakeKeySynthesizer final : public KeySynthesizer {
  public:
    explicit FakeKeySynthesizer(const ManualScheduler& clock) : clock_(clock) {}

    bool available = true;
    int heldFor = 0; // answers retry this many more times
    bool typingFails = false;
    std::vector<std::pair<double, PasteChord>> chords;
    std::vector<std::pair<double, std::string>> typed;

    bool isAvailable() const override { return available; }
    std::string unavailableReason() const override { return "no X display"; }
    SynthesisResult sendPasteChord(PasteChord chord) override {
        if (heldFor > 0) {
            --heldFor;
            return SynthesisResult::retry("a modifier is still held (Shift_L)");
        }
        chords.emplace_back(clock_.now, chord);
        return SynthesisResult::ok();
    }
    SynthesisResult type(const std::string& text,
                         std::function<void(SynthesisResult)> done) override {
        if (heldFor > 0) {
            --heldFor;
            return SynthesisResult::retry("a modifier is still held (Shift_L)");
        }
        if (typingFails) {
            return SynthesisResult::failed("the keyboard could not be remapped");
        }
        typed.emplace_back(clock_.now, text);
        done(SynthesisResult::ok());
        return SynthesisResult::ok();
    }

  private:
    const ManualScheduler& clock_;
};
