#pragma once

#include "RawValues.h"
#include "platform/Paths.h"

#include <exception>
#include <filesystem>
#include <string>
#include <vector>

// The AI apps this program registers its connector server with.
enum class ConnectedApp { claudeCode, claude, cursor };

namespace ConnectedApps {

inline constexpr RawValues<ConnectedApp, 3> raw{{{
    {ConnectedApp::claudeCode, "Claude Code"},
    {ConnectedApp::claude, "Claude"},
    {ConnectedApp::cursor, "Cursor"},
}}};
inline constexpr auto allCases = raw.allCases();
// The display name.
inline constexpr std::string_view rawValue(ConnectedApp app) {
    return raw.rawValue(app);
}

// The line shown under the name.
std::string_view detail(ConnectedApp app);

// The app's settings file: ~/.claude.json, $XDG_CONFIG_HOME/Claude/claude_desktop_config.json,
// ~/.cursor/mcp.json.
std::filesystem::path config(ConnectedApp app, const Paths& paths);

// The command that starts the connector server: this executable and "--mcp".
std::vector<std::string> launch(const Paths& paths);

// A settings document holding only our entry, for apps not listed here.
std::string copyable(const Paths& paths);

// Whether the app's settings file has our entry; an unreadable file counts as missing.
bool isConnected(ConnectedApp app, const Paths& paths);

// Makes the app's registration match `connected`. The settings files are edited in place at the
// target of a link, with a one-time backup, atomically, keeping their permissions; Claude Code is
// changed through its own command line. Throws ConnectorConfig::Unreadable (nothing written),
// AppError ("not installed", or the command's failure) or FileError.
void set(ConnectedApp app, bool connected, const Paths& paths);

// The sentence shown to the user when `set` failed with `error`.
std::string problem(ConnectedApp app, const std::exception& error);

} // namespace ConnectedApps
