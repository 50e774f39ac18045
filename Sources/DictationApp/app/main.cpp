#include "Files.h"
#include "Options.h"
#include "app/Startup.h"
#include "config/Settings.h"
#include "connector/ConnectorServer.h"
#include "desktop/wayland/RecordKeyCommands.h"
#include "desktop/wayland/WaylandDesktop.h"
#include "desktop/x11/X11Desktop.h"
#include "housekeeping/CrashHandler.h"
#include "models/ModelAddress.h"
#include "models/ModelDownloader.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int badUsageStatus = 2;

// Our folders that an older version, or a looser umask, left open to other users become ours
// alone, so nobody else can replace the history or the word list.
void protectFolders(const Paths& paths) {
    for (const auto& folder : {paths.support(), paths.settings().parent_path(),
                               paths.crashes().parent_path(), paths.cache()}) {
        std::error_code missing;
        if (!std::filesystem::is_directory(folder, missing)) {
            continue;
        }
        try {
            Files::createPrivateFolder(folder);
        } catch (const FileError& error) {
            log(std::string("could not protect a folder: ") + error.what());
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const Paths paths = Paths::forThisProcess();
    Log appLog(paths.appName(), paths.isApp() ? std::optional(paths.log()) : std::nullopt);
    if (paths.isApp()) {
        CrashHandler::install(paths.crashes(), paths.appName(),
                              paths.bundle()->version.value_or(PARLWICK_VERSION));
    }

    // An AI app started us as its connector server: nothing else of the app is made.
    for (int i = 0; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--mcp") {
            return ConnectorServer::run(paths);
        }
    }

    protectFolders(paths);
    // Writing to a speech tool that has died must not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    if (paths.isApp()) {
        Paths::extendSearchPath(paths.homes().home);
    }
    // Most PC keyboards never report fn, so both modes start with right Alt.
    const HotKey launchKey = HotKey::rightOption;

    Options options;
    try {
        options = Options::parse(std::vector<std::string>(argv + 1, argv + argc), launchKey);
    } catch (const Options::ParseError& error) {
        log(error.description() + "\n\n" + Options::usage());
        return badUsageStatus;
    }
    if (options.showHelp) {
        std::fputs((Options::usage() + "\n").c_str(), stdout);
        return 0;
    }

    if (!paths.isApp()) {
        // The files the app would download, checked in its order: the speech check's first.
        for (const auto& model : ModelDownloader::required(
                 ModelAddress::publicHost,
                 SettingsFile(paths.settings()).speechModel(options.language))) {
            if (!std::filesystem::exists(paths.models() / model.name)) {
                log("models missing in " + paths.models().string() +
                    ". Run ./scripts/setup.sh from the repo folder.");
                return 1;
            }
        }
    }

    // Our windows are X11 ones wherever Xwayland runs: the pill can place itself there, and
    // GNOME's clipboard is reached through it. Without it they are Wayland windows.
    const bool wayland = WaylandDesktop::isSession();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM",
                wayland && qEnvironmentVariableIsEmpty("DISPLAY") ? "wayland" : "xcb");
    }
    Startup::Platform platform{X11Desktop::missingAccess, X11Desktop::make,
                               X11Desktop::makeKeyListener};
    if (wayland) {
        // Read when the desktop is made, so the stored key and choice count.
        const auto wishes = [paths, options] {
            const SettingsFile settings(paths.settings());
            return WaylandDesktop::Wishes{
                paths.isApp() ? paths.bundle()->identifier : RecordKeyCommands::defaultBusName,
                paths.isApp() ? RecordKey::stored(options.key, settings) : options.key,
                settings.get(SettingKeys::readInputDevices), paths.support() / "portal-token"};
        };
        platform = {
            WaylandDesktop::missingAccess, [wishes] { return WaylandDesktop::make(wishes()); },
            [wishes](SyntheticEvents&) { return WaylandDesktop::makeKeyListener(wishes()); }};
    }
    log(std::string("desktop session: ") + (wayland ? "wayland" : "x11"));
    try {
        Startup startup(options, paths, std::move(platform));
        return paths.isApp() ? startup.runApp(argc, argv) : startup.runTerminal(argc, argv);
    } catch (const std::exception& error) {
        log(std::string("could not start dictation: ") + error.what());
    }
    return 1;
}
