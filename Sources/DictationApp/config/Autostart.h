#pragma once

#include "platform/Paths.h"

#include <string>

// Opening at login: the desktop's XDG autostart entry for this executable.
namespace Autostart {

// Writes or removes the entry. Throws FileError.
void set(const Paths& paths, bool opens);
bool isSet(const Paths& paths);
// Rewrites an existing entry that differs from what `set` writes now (one from an earlier
// version, without the login marker, or for an executable that has moved). Throws FileError.
void refresh(const Paths& paths);

// Set to "1" in the environment of a launch from the entry.
inline constexpr const char* marker = "PARLWICK_AUTOSTART";

// The entry that starts `executable` with the marker set.
std::string entry(const std::string& appName, const std::filesystem::path& executable);

// Whether the desktop started this process from the entry at login, so it shows no window.
bool launchedAtLogin();

} // namespace Autostart
