#include "dictation/Terminals.h"

#include <algorithm>
#include <array>

namespace Terminals {

namespace {

constexpr std::array<std::string_view, 34> chord{
    "Alacritty",
    "com.mitchellh.ghostty",
    "com.raggesilver.BlackBox",
    "contour",
    "cool-retro-term",
    "deepin-terminal",
    "foot",
    "Gnome-terminal",
    "Guake",
    "Hyper",
    "io.elementary.terminal",
    "kgx",
    "kitty",
    "konsole",
    "Lxterminal",
    "Mate-terminal",
    "org.gnome.Console",
    "org.gnome.Ptyxis",
    "org.wezfurlong.wezterm",
    "Qterminal",
    "Roxterm",
    "Sakura",
    "st",
    "st-256color",
    "stterm",
    "Tabby",
    "Terminator",
    "terminology",
    "Terminix",
    "Tilda",
    "Tilix",
    "Termite",
    "Xfce4-terminal",
    "Yakuake",
};

// xterm and rxvt bind no key to the clipboard by default (Shift+Insert pastes the primary
// selection), so a chord would be lost there.
constexpr std::array<std::string_view, 4> typed{"XTerm", "UXTerm", "URxvt", "Rxvt"};

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

bool listed(std::span<const std::string_view> list, std::string_view windowClass) {
    return std::any_of(list.begin(), list.end(),
                       [&](std::string_view c) { return sameIgnoringCase(c, windowClass); });
}

} // namespace

PasteMethod pasteMethod(std::string_view windowClass) {
    if (listed(chord, windowClass)) {
        return PasteMethod::ctrlShiftV;
    }
    if (listed(typed, windowClass)) {
        return PasteMethod::typing;
    }
    return PasteMethod::ctrlV;
}

std::span<const std::string_view> chordClasses() {
    return chord;
}
std::span<const std::string_view> typingClasses() {
    return typed;
}

} // namespace Terminals
