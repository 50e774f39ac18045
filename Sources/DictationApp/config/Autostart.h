#pragma once

#include "platform/Paths.h"

#include <string>

// Opening at login: the desktop's XDG autostart entry for this executable.
namespace Autostart {

// Writes or removes the entry. Throws FileError.
void set(const Paths& paths, bool opens);
bool isSet(const Paths& paths);

// The entry that starts `executable`.
std::string entry(const std::string& appName, const std::filesystem::path& executable);

} // namespace Autostart
