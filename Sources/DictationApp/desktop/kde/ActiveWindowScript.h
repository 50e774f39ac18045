#pragma once

#include <QString>

// The KWin script that tells us which window is active: on each activation (and each caption
// change of the active window) it calls Activated(resourceClass, resourceName, caption, pid)
// on our object, or Closed() when no window is active, and reports the current window once
// when it starts. Plasma 6 names the signal windowActivated, Plasma 5 clientActivated.
namespace ActiveWindowScript {

inline constexpr const char* objectPath = "/org/parlwick/Parlwick/ActiveWindow";
inline constexpr const char* interfaceName = "org.parlwick.Parlwick.ActiveWindow";

// Whether `busName` is a well-formed bus name, unique (":1.42") or well-known; only those are
// written into a script.
bool isValidBusName(const QString& busName);

// The script's text for a program reachable at `busName` (which must be valid).
QString text(const QString& busName);

// The name KWin knows the script by: one per bus name, so two connections never unload each
// other's script.
QString pluginName(const QString& busName);

} // namespace ActiveWindowScript
