#pragma once

#include "desktop/WindowProbe.h"

class AtspiFocusProbe;

// The front app as the accessibility tree tells it: the application of the focused element
// and the window around it. Works under any compositor, for the apps that expose their
// accessibility (most do once it is switched on). Uses, and must not outlive, `focus`.
class AtspiWindowProbe : public WindowProbe {
  public:
    explicit AtspiWindowProbe(AtspiFocusProbe& focus) : focus_(focus) {}

    bool isAvailable() const override;
    std::optional<FrontWindow> frontmost() override;
    std::optional<std::string> title(const FrontWindow& window) override;
    bool isKeyboardGrabbed() override { return false; }

  private:
    AtspiFocusProbe& focus_;
};
