#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every place the program keeps or looks for files. Values are computed once, on first use,
// and never change afterwards, so any thread may read them.
namespace Paths {

// The reverse-DNS name of the per-user folders. Built in, so the app, the connector server an
// AI app starts and a binary run from the build tree all share one support folder.
extern const std::string_view AppBundleID;

// True when the running executable belongs to an installed tree whose
// share/parlwick/bundle.json carries a bundle identifier.
bool isApp();
// The bundle's "CFBundleName", else "Dictation".
const std::string& appName();

const std::filesystem::path& support(); // $XDG_DATA_HOME/<AppBundleID>
const std::filesystem::path& history();
const std::filesystem::path& totals();
const std::filesystem::path& snippets();
const std::filesystem::path& notes();
const std::filesystem::path& vocabulary();
const std::filesystem::path& log();
const std::filesystem::path& recordings();
const std::filesystem::path& voiceTest();
const std::filesystem::path& models(); // the working directory's "models" outside app mode
const std::filesystem::path& runs();   // the working directory's "runs.csv" outside app mode

const std::filesystem::path& settings();  // $XDG_CONFIG_HOME/<AppBundleID>/settings.ini
const std::filesystem::path& autostart(); // $XDG_CONFIG_HOME/autostart/<AppBundleID>.desktop
const std::filesystem::path& crashes();   // $XDG_STATE_HOME/<AppBundleID>/crashes

// The absolute path of the running executable.
const std::filesystem::path& executable();

// Puts the per-user and package-manager tool folders after the inherited PATH.
void extendSearchPath();

// The bundle's libexec/parlwick/<name> when the user may execute it, else `name` unchanged
// for the search path to resolve.
std::string tool(std::string_view name);

// The pure parts, for tests.
struct Bundle {
    std::filesystem::path prefix; // the folder holding bin/, share/ and libexec/
    std::string identifier;
    std::optional<std::string> name;
};
std::optional<Bundle> bundleFor(const std::filesystem::path& executable);
std::string searchPath(const char* inheritedPath, const std::filesystem::path& home,
                       std::vector<std::string> nodeVersions);

} // namespace Paths
