#pragma once

#include "Desktop.h"

// The X11 and AT-SPI backends. Needs the QGuiApplication to exist (the clipboard is Qt's);
// every part reports for itself whether it is available.
namespace X11Desktop {
Desktop make();
} // namespace X11Desktop
