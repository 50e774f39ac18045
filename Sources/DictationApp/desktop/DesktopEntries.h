#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Display names of applications from their desktop entries (the .desktop files menus use).
namespace DesktopEntries {

// What the desktop knows about a window's program.
struct Program {
    // WM_CLASS: the instance and class names.
    std::string instance;
    std::string className;
    // The executable's file name, from the process.
    std::string executable;
};

// $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS (default /usr/local/share and
// /usr/share) + /applications, most important first.
std::vector<std::filesystem::path> folders();

// The Name of the entry that fits `program`: one whose StartupWMClass is the class or
// instance, else one whose file name is, else one that runs the same executable (unless that
// is an interpreter such as python3, which runs many programs). The name is
// the one for the user's language (LC_ALL, LC_MESSAGES, LANG) when the entry has it.
// Entries marked Hidden are left out. Nothing when no entry fits. Main thread only: the
// entries read are kept until a folder changes.
std::optional<std::string> displayName(const Program& program,
                                       const std::vector<std::filesystem::path>& folders);
// The display name from the usual folders, else `fallback`.
std::string nameOr(const Program& program, const std::string& fallback);

// A running process's executable file name; empty when it cannot be read.
std::string executableOf(std::int64_t pid);

} // namespace DesktopEntries
