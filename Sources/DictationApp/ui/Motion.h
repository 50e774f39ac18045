#pragma once

// Whether the user asked the desktop for less motion: animations then jump to where they end
// and the live-voice field moves calmly. Set once at start-up; main thread only.
namespace Motion {

bool reduced();
void setReduced(bool reduced);

} // namespace Motion
