#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The active window and the application it belongs to.
struct FrontWindow {
    std::uint64_t id = 0;
    // The application's display name; empty when nothing names it.
    std::string appName;
    // The window's class (WM_CLASS on X11); empty when it has none.
    std::string windowClass;
    std::optional<std::int64_t> pid;

    bool operator==(const FrontWindow&) const = default;
};

// The window side of the desktop.
class WindowProbe {
  public:
    virtual ~WindowProbe() = default;

    virtual bool isAvailable() const = 0;
    // Nothing when no window is active.
    virtual std::optional<FrontWindow> frontmost() = 0;
    // The window's title; nothing when it has none or is gone.
    virtual std::optional<std::string> title(const FrontWindow& window) = 0;
    // Another program holds the keyboard (a password prompt typically grabs it), so whatever
    // is typed now counts as secret.
    virtual bool isKeyboardGrabbed() = 0;
};
