#pragma once

#include "desktop/WindowProbe.h"

#include <memory>

// The active window as the window manager announces it (_NET_ACTIVE_WINDOW), named after its
// program's desktop entry, else its WM_CLASS. Main thread only.
class X11WindowProbe : public WindowProbe {
  public:
    X11WindowProbe();
    ~X11WindowProbe() override;

    bool isAvailable() const override;
    std::optional<FrontWindow> frontmost() override;
    std::optional<std::string> title(const FrontWindow& window) override;
    bool isKeyboardGrabbed() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
