#pragma once

#include "desktop/Desktop.h"

#include <string>

// The X11 and AT-SPI backends. Needs the QGuiApplication to exist (the clipboard is Qt's);
// every part reports for itself whether it is available.
namespace X11Desktop {
Desktop make();
std::unique_ptr<KeyListener> makeKeyListener(SyntheticEvents& synthetic);
// Why this desktop does not let us see every key and send keys (no X display, no XInput 2.1,
// no XTEST); empty when it does. Needs no application object.
std::string missingAccess();
} // namespace X11Desktop
