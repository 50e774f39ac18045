#pragma once

#include "desktop/WindowProbe.h"

#include <memory>

class WaylandConnection;

// The active window through wlroots' foreign-toplevel protocol: its app id (named after the
// desktop entry it matches) and title. Wayland has no keyboard grabs to see. Main thread only.
class ForeignToplevels : public WindowProbe {
  public:
    // Nothing when the compositor does not offer the protocol.
    static std::unique_ptr<ForeignToplevels> make(std::shared_ptr<WaylandConnection> connection);
    static bool isOffered(const WaylandConnection& connection);
    ~ForeignToplevels() override;

    bool isAvailable() const override;
    std::optional<FrontWindow> frontmost() override;
    std::optional<std::string> title(const FrontWindow& window) override;
    bool isKeyboardGrabbed() override { return false; }

    struct Impl;

  private:
    explicit ForeignToplevels(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
