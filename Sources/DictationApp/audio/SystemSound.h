#pragma once

#include <string_view>

// Short sounds of the desktop's sound theme, played without waiting.
namespace SystemSound {

// The soft pop that says a recording was taken.
inline constexpr std::string_view pop = "audio-volume-change";

// Plays the theme's sound for the event; a desktop without sound stays silent, logged once.
void play(std::string_view event);

} // namespace SystemSound
