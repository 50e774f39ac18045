#include "connector/Connections.h"

#include "ConnectorConfig.h"
#include "Files.h"
#include "platform/AppError.h"
#include "platform/Paths.h"
#include "platform/Subprocess.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ConnectedApps {

namespace {

constexpr const char* backupExtension = ".parlwick-backup";
constexpr double claudeCodeTimeout = 20;

// The AI apps' own files: a link there (a dotfiles folder) is the user's choice.
std::optional<std::string> readSettings(const fs::path& file) {
    return Files::readIfPresent(file, 0, Files::Links::follow, 64 << 20);
}

// Keeps the file exactly as it was before our first change; never overwritten.
void backUp(const fs::path& file, const std::string& bytes) {
    fs::path backup = file;
    backup += backupExtension;
    Files::writeNew(backup, bytes);
}

// Where the settings file is edited: at the target of a link, so the link survives. A link that
// leads nowhere (dangling or looping) is a file that couldn't be read, never one to replace.
fs::path editedLocation(const fs::path& file) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(file, error))) {
        return fs::weakly_canonical(file);
    }
    fs::path target = fs::canonical(file, error);
    if (error) {
        throw ConnectorConfig::Unreadable();
    }
    return target;
}

// The user took away the write permission, so the file stays as they left it. Root writes
// through any mode, so the bits are checked as well as the access.
bool isReadOnly(const fs::path& file, mode_t mode) {
    return (mode & 0222) == 0 || ::access(file.c_str(), W_OK) != 0;
}

void editSettingsFile(ConnectedApp app, bool connected, const Paths& paths) {
    const fs::path location = editedLocation(config(app, paths));
    const auto old = readSettings(location);
    const auto command = launch(paths);
    const std::string updated =
        connected ? ConnectorConfig::connecting(
                        old, command.front(),
                        std::vector<std::string>(command.begin() + 1, command.end()))
                  : ConnectorConfig::disconnecting(old);

    if (!fs::is_directory(location.parent_path())) {
        throw AppError::process("not installed");
    }
    mode_t mode = 0600;
    if (old) {
        struct stat info {};
        if (::stat(location.c_str(), &info) != 0) {
            throw FileError("couldn't read " + location.filename().string() + ": " +
                            std::strerror(errno));
        }
        mode = info.st_mode & 07777;
        if (isReadOnly(location, mode)) {
            throw FileError("couldn't change " + location.filename().string() +
                            ": the file is read-only");
        }
        backUp(location, *old);
    }
    // The file keeps its own permissions: the app that owns it chose them.
    Files::replaceAtomically(location, updated, mode);
}

} // namespace

std::string_view detail(ConnectedApp app) {
    switch (app) {
    case ConnectedApp::claudeCode:
        return "In your terminal";
    case ConnectedApp::claude:
        return "The desktop app. Reopen it after connecting.";
    case ConnectedApp::cursor:
        return "The code editor";
    }
    return {};
}

fs::path config(ConnectedApp app, const Paths& paths) {
    switch (app) {
    case ConnectedApp::claudeCode:
        return paths.homes().home / ".claude.json";
    case ConnectedApp::claude:
        return paths.homes().config / "Claude" / "claude_desktop_config.json";
    case ConnectedApp::cursor:
        return paths.homes().home / ".cursor" / "mcp.json";
    }
    return {};
}

std::vector<std::string> launch(const Paths& paths) {
    return {paths.executable().empty() ? std::string("DictationApp") : paths.executable().string(),
            "--mcp"};
}

std::string copyable(const Paths& paths) {
    try {
        const auto command = launch(paths);
        return ConnectorConfig::connecting(
            std::nullopt, command.front(),
            std::vector<std::string>(command.begin() + 1, command.end()));
    } catch (const std::exception&) {
        return {};
    }
}

bool isConnected(ConnectedApp app, const Paths& paths) {
    std::optional<std::string> data;
    try {
        data = readSettings(config(app, paths));
    } catch (const FileError&) {
        return false;
    }
    return ConnectorConfig::isConnected(data);
}

void set(ConnectedApp app, bool connected, const Paths& paths) {
    if (app != ConnectedApp::claudeCode) {
        editSettingsFile(app, connected, paths);
        return;
    }
    std::vector<std::string> arguments{"claude", "mcp"};
    if (connected) {
        arguments.insert(arguments.end(), {"add", "--scope", "user", "parlwick", "--"});
        const auto command = launch(paths);
        arguments.insert(arguments.end(), command.begin(), command.end());
    } else {
        arguments.insert(arguments.end(), {"remove", "--scope", "user", "parlwick"});
    }
    run(arguments, std::string(), std::nullopt, claudeCodeTimeout);
}

std::string problem(ConnectedApp app, const std::exception& error) {
    const std::string name(rawValue(app));
    if (dynamic_cast<const ConnectorConfig::Unreadable*>(&error) != nullptr) {
        return name + "'s settings file couldn't be read, so nothing was changed.";
    }
    return "Couldn't change " + name + ". Is it installed?";
}

} // namespace ConnectedApps
