#pragma once

#include "desktop/WindowProbe.h"

#include <optional>
#include <string>

// The window manager as a test sets it up: which window is in front, its title, and whether
// another program holds the keyboard.
class FakeWindowProbe final : public WindowProbe {
  public:
    std::optional<FrontWindow> front = FrontWindow{0x400007, "Editor", "Gedit", 42};
    std::optional<std::string> windowTitle;
    bool grabbed = false;
    int titleReads = 0;
    int grabTests = 0;

    bool isAvailable() const override { return true; }
    std::optional<FrontWindow> frontmost() override { return front; }
    std::optional<std::string> title(const FrontWindow&) override {
        ++titleReads;
        return windowTitle;
    }
    bool isKeyboardGrabbed() override {
        ++grabTests;
        return grabbed;
    }
};
