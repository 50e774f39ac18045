#pragma once

#include "setup/SetupModel.h"

#include <string>

// What setup checks on a Linux desktop: the sound server's default source (PulseAudio or
// PipeWire's pulse server), an X display with XInput 2 and XTEST, and the accessibility bus
// that AT-SPI's field checks travel on.
namespace DesktopChecks {

// `clientName` names us to the sound server. The microphone check keeps one connection to the
// server between calls.
SetupModel::Checks make(std::string clientName);

// Why the accessibility bus (org.a11y.Bus on the session bus, running or started on demand)
// cannot be reached; empty when it can. Never starts a session bus of its own.
std::string missingAccessibilityBus();

} // namespace DesktopChecks
