#pragma once

#include "desktop/WindowProbe.h"

#include <QDBusConnection>
#include <QString>
#include <memory>

// The active window on KDE Plasma, where Wayland offers no foreign-toplevel protocol: a KWin
// script of ours (ActiveWindowScript) reports each activation to an object we put on the
// session bus. Only KWin's own connection is believed, so no other program on the bus can
// name the front app. KWin has no keyboard grabs to see. Main thread only.
class KWinWindowProbe : public WindowProbe {
  public:
    // Loads and starts the script, which calls back on `busName` (a name `bus` owns: the
    // program's well-known name or the connection's unique name). Nothing when KWin is not on
    // the bus, offers no scripting, or refuses the script; the reason is logged.
    static std::unique_ptr<KWinWindowProbe>
    make(const QString& busName, QDBusConnection bus = QDBusConnection::sessionBus());
    // Unloads the script.
    ~KWinWindowProbe() override;
    KWinWindowProbe(const KWinWindowProbe&) = delete;
    KWinWindowProbe& operator=(const KWinWindowProbe&) = delete;

    // While KWin (the one that runs our script) is on the bus.
    bool isAvailable() const override;
    // The window KWin reported last; the id changes whenever a report differs from the one
    // before (another window, or a new caption).
    std::optional<FrontWindow> frontmost() override;
    // The reported caption while `window` is still the last report.
    std::optional<std::string> title(const FrontWindow& window) override;
    bool isKeyboardGrabbed() override { return false; }

    struct Impl;

  private:
    explicit KWinWindowProbe(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
