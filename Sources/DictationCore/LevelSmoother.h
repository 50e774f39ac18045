#pragma once

// The input level as the voice display shows it: it follows a louder sound at once and lets a
// quieter one fade, so the display neither jitters nor lags behind speech.
class LevelSmoother {
  public:
    static constexpr double rise = 0.45;
    static constexpr double fall = 0.1;

    // Moves the displayed level toward `level` by one frame; returns it.
    double step(double level) {
        displayed_ += (level - displayed_) * (level > displayed_ ? rise : fall);
        return displayed_;
    }
    double displayed() const { return displayed_; }

  private:
    double displayed_ = 0;
};
