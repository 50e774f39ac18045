#pragma once

#include "desktop/FocusProbe.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The focused element through AT-SPI. The bus has no "what has focus" query, so the probe
// follows focus events from the moment it is made. Main thread only; AT-SPI's events arrive
// through the GLib main context that Qt's event loop runs.
class AtspiFocusProbe : public FocusProbe {
  public:
    // Every call to an application gives up after this long.
    static constexpr int timeoutMs = 200;
    // Except while the probe finds the registry at start.
    static constexpr int startupTimeoutMs = 3000;

    AtspiFocusProbe();
    ~AtspiFocusProbe() override;

    bool isAvailable() const override;
    std::string unavailableReason() const;
    std::shared_ptr<const FocusedElement> focusedElement() override;
    bool isSecure(const FocusedElement& element) override;
    std::optional<FieldState> state(const FocusedElement& element) override;

    // The application and the window around the focused element, for desktops that do not
    // say which window is active.
    struct Owner {
        std::string application;
        std::string windowTitle;
        std::optional<std::int64_t> pid;
        // The same number for the same window while it lives.
        std::uint64_t window = 0;
    };
    std::optional<Owner> focusedOwner();
    // The title of a window focusedOwner() named last; nothing once another one was named.
    std::optional<std::string> windowTitle(std::uint64_t window);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
