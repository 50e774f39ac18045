#pragma once

#include "HotKey.h"
#include "desktop/Desktop.h"

#include <filesystem>
#include <string>

// The backends for a Wayland session, each concern served by the best the session offers: the
// record key by the desktop's shortcut portal, the input devices when the user allowed it, and
// bus commands for compositor bindings; typing by the virtual keyboard, else the remote
// desktop portal; the clipboard by data control; the front app by foreign toplevels; with
// Xwayland's X11 backends as the last resort. Needs the QGuiApplication to exist.
namespace WaylandDesktop {

// Whether this is a Wayland session: WAYLAND_DISPLAY names a compositor to connect to.
bool isSession();

// Which backend serves each concern, for the log and for setup.
struct Choice {
    std::string keys;
    std::string typing;
    std::string clipboard;
    std::string windows;
    std::string overlay = "qt window"; // where the pill shows

    // "record key: …; typing: …; clipboard: …; front app: …; pill: …".
    std::string description() const;
};

// What the program asks of the session.
struct Wishes {
    // The name the record-key commands answer on.
    std::string busName;
    // The key the shortcut portal is asked for, and the one read from input devices.
    HotKey key = HotKey::rightOption;
    // The user allowed reading the keyboard devices (off unless chosen).
    bool readInputDevices = false;
    // Where the remote desktop portal's restore token is kept.
    std::filesystem::path portalToken;
};

Desktop make(const Wishes& wishes, Choice* choice = nullptr);
// A new key listener, for when the first found nothing to listen with.
std::unique_ptr<KeyListener> makeKeyListener(const Wishes& wishes);
// Why keys cannot be sent in this session, in its own terms; empty when they can.
std::string missingAccess();

} // namespace WaylandDesktop
