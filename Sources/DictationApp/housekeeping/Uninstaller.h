#pragma once

#include "platform/Paths.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Removes every trace of the program for this user: its registration with the AI apps, the
// autostart entry, its data, cache, state and settings folders, and the installed program
// itself (to the Trash) when the user installed it. A failure in one step never stops the
// later ones.
namespace Uninstaller {

struct Outcome {
    // What went wrong, each as logged: "uninstall: couldn't remove models: Permission denied".
    std::vector<std::string> problems;
    // The installed files that went to the Trash.
    std::vector<std::filesystem::path> trashed;
    // For a program installed for all users: how to remove it, for the last message.
    std::optional<std::string> packageAdvice;
};

// The folders deleted, in order: support (history, recordings, words, snippets, notes, log,
// models, voice tests), cache, state (crash reports) and settings.
std::vector<std::filesystem::path> leftovers(const Paths& paths);

// The installed files of the tree `paths` runs from, when there is one.
std::vector<std::filesystem::path> installedFiles(const Paths& paths);

// Runs every step and reports each failure to the log; the caller quits afterwards.
Outcome run(const Paths& paths);

// What the app does after the user confirmed: runs every step, tells a user whose program was
// installed for everyone how to remove it, and quits the application.
void runAndQuit(const Paths& paths);

} // namespace Uninstaller
