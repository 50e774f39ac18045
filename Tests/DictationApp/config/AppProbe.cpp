// Shows what another process of the app sees: `app-probe settings`, `app-probe paths [tool...]`,
// `app-probe set KEY VALUE` (through the typed setters).
#include "platform/Paths.h"
#include "config/Settings.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void printSettings() {
    const auto key = Settings::key();
    std::cout << "key=" << (key ? HotKeys::rawValue(*key) : "none") << "\n"
              << "retention=" << Retentions::rawValue(Settings::retention()) << "\n"
              << "keepAudio=" << Settings::keepAudio() << "\n"
              << "playSound=" << Settings::playSound() << "\n"
              << "offersCrashReports=" << Settings::offersCrashReports() << "\n"
              << "hasCompletedSetup=" << Settings::hasCompletedSetup() << "\n"
              << "hidesSteps=" << Settings::hidesSteps() << "\n"
              << "look=" << static_cast<int>(Settings::look()) << "\n"
              << "hasChosenStyle=" << Settings::hasChosenStyle() << "\n";
    for (auto group : AppGroups::allCases) {
        std::cout << "style-" << AppGroups::rawValue(group) << "="
                  << WritingStyles::rawValue(Settings::style(group)) << "\n";
    }
    const auto crash = Settings::lastCrashReport();
    std::cout << "lastCrashReport=" << (crash ? Dates::iso8601(*crash) : "none") << "\n";
}

void printPaths(int argc, char** argv) {
    std::cout << "isApp=" << Paths::isApp() << "\n"
              << "appName=" << Paths::appName() << "\n"
              << "support=" << Paths::support().string() << "\n"
              << "models=" << Paths::models().string() << "\n"
              << "runs=" << Paths::runs().string() << "\n";
    for (int i = 2; i < argc; ++i) {
        std::cout << "tool " << argv[i] << "=" << Paths::tool(argv[i]) << "\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "settings") {
        printSettings();
    } else if (command == "paths") {
        printPaths(argc, argv);
    } else if (command == "set" && argc == 4) {
        const std::string key = argv[2], value = argv[3];
        if (key == "retention") {
            Settings::setRetention(Retentions::fromRawValue(value).value());
        } else if (key == "style-email") {
            Settings::setStyle(WritingStyles::fromRawValue(value).value(), AppGroup::email);
        } else if (key == "playSound") {
            Settings::setPlaySound(value == "true");
        } else {
            return 2;
        }
    } else {
        std::cerr << "usage: app-probe settings | paths [tool...] | set KEY VALUE\n";
        return 2;
    }
    return 0;
}
