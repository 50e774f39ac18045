#pragma once

#include <span>
#include <string_view>

// How text gets into the active window.
enum class PasteMethod {
    ctrlV,
    // Terminal emulators: Ctrl+V is a control character there.
    ctrlShiftV,
    // Terminals that paste the clipboard with no chord by default: the text is typed.
    typing,
};

namespace Terminals {

// By the window's class, compared without regard to ASCII case.
PasteMethod pasteMethod(std::string_view windowClass);

// The window classes that paste with Ctrl+Shift+V, and those that get typed text.
std::span<const std::string_view> chordClasses();
std::span<const std::string_view> typingClasses();

} // namespace Terminals
