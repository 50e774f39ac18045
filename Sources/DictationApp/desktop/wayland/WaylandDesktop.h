#pragma once

#include "desktop/Desktop.h"

#include <string>

// The backends for a Wayland session, each concern served by the best the compositor offers:
// the record key by bus commands (and, once made, portal shortcuts or input devices), typing
// by the virtual keyboard, the clipboard by data control, the front app by foreign toplevels,
// with Xwayland's X11 backends as the last resort. Needs the QGuiApplication to exist.
namespace WaylandDesktop {

// Whether this is a Wayland session: a compositor named in WAYLAND_DISPLAY, or the session
// type says so.
bool isSession();

// Which backend serves each concern, for the log and for setup.
struct Choice {
    std::string keys;
    std::string typing;
    std::string clipboard;
    std::string windows;

    // "record key: …; typing: …; clipboard: …; front app: …".
    std::string description() const;
};

// `busName`: the name the record-key commands answer on.
Desktop make(const std::string& busName, Choice* choice = nullptr);
std::unique_ptr<KeyListener> makeKeyListener(const std::string& busName);
// Why keys cannot be sent in this session, in its own terms; empty when they can.
std::string missingAccess();

} // namespace WaylandDesktop
