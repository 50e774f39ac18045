#pragma once

#include <QIcon>
#include <string_view>

// The symbols the windows use, by their names ("gearshape", "trash", ...): the desktop's icon
// theme where it has one, else our own drawing, so a bare session shows every icon too.
namespace Icons {

QIcon symbol(std::string_view name);
// The icon-theme name standing for a symbol; empty for one of our own.
std::string_view themeName(std::string_view symbol);
// The tray's microphone: the theme's symbolic one at rest (panels colour it), our red one while
// recording.
QIcon tray(bool recording);

} // namespace Icons
