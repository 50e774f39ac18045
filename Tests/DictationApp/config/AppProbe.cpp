// Shows what another process of the app sees: `app-probe settings`, `app-probe paths [tool...]`,
// `app-probe set KEY VALUE` (through the table's keys).
#include "config/Settings.h"
#include "platform/Paths.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void printSettings(const SettingsFile& settings) {
    const auto key = settings.get(SettingKeys::key);
    std::cout << "key=" << (key ? HotKeys::rawValue(*key) : "none") << "\n"
              << "retention=" << Retentions::rawValue(settings.get(SettingKeys::retention)) << "\n"
              << "keepAudio=" << settings.get(SettingKeys::keepAudio) << "\n"
              << "playSound=" << settings.get(SettingKeys::playSound) << "\n"
              << "offersCrashReports=" << settings.get(SettingKeys::offersCrashReports) << "\n"
              << "hasCompletedSetup=" << settings.get(SettingKeys::hasCompletedSetup) << "\n"
              << "hidesSteps=" << settings.get(SettingKeys::hidesSteps) << "\n"
              << "look=" << static_cast<int>(settings.get(SettingKeys::look)) << "\n"
              << "hasChosenStyle=" << settings.hasChosenStyle() << "\n";
    for (auto group : AppGroups::allCases) {
        std::cout << "style-" << AppGroups::rawValue(group) << "="
                  << WritingStyles::rawValue(settings.get(SettingKeys::style(group))) << "\n";
    }
    const auto crash = settings.get(SettingKeys::lastCrashReport);
    std::cout << "lastCrashReport=" << (crash ? Dates::iso8601(*crash) : "none") << "\n";
}

void printPaths(const Paths& paths, int argc, char** argv) {
    std::cout << "isApp=" << paths.isApp() << "\n"
              << "appName=" << paths.appName() << "\n"
              << "support=" << paths.support().string() << "\n"
              << "models=" << paths.models().string() << "\n"
              << "runs=" << paths.runs().string() << "\n";
    for (int i = 2; i < argc; ++i) {
        std::cout << "tool " << argv[i] << "=" << paths.tool(argv[i]) << "\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    const Paths paths = Paths::forThisProcess();
    const SettingsFile settings(paths.settings());
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "settings") {
        printSettings(settings);
    } else if (command == "paths") {
        printPaths(paths, argc, argv);
    } else if (command == "set" && argc == 4) {
        const std::string key = argv[2], value = argv[3];
        if (key == "retention") {
            settings.set(SettingKeys::retention, Retentions::fromRawValue(value).value());
        } else if (key == "style-email") {
            settings.set(SettingKeys::style(AppGroup::email),
                         WritingStyles::fromRawValue(value).value());
        } else if (key == "playSound") {
            settings.set(SettingKeys::playSound, value == "true");
        } else {
            return 2;
        }
    } else {
        std::cerr << "usage: app-probe settings | paths [tool...] | set KEY VALUE\n";
        return 2;
    }
    return 0;
}
