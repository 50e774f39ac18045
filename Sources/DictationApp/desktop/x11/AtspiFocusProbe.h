#pragma once

#include "desktop/FocusProbe.h"

#include <memory>
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

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
