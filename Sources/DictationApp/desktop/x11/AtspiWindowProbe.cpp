#include "desktop/x11/AtspiWindowProbe.h"

#include "desktop/DesktopEntries.h"
#include "desktop/x11/AtspiFocusProbe.h"

#include <filesystem>

bool AtspiWindowProbe::isAvailable() const {
    return focus_.isAvailable();
}

std::optional<FrontWindow> AtspiWindowProbe::frontmost() {
    const auto owner = focus_.focusedOwner();
    if (!owner) {
        return std::nullopt;
    }
    FrontWindow front;
    front.id = owner->window;
    front.pid = owner->pid;
    // Toolkits name the application after the program or its application id.
    DesktopEntries::Program program;
    program.instance = owner->application;
    program.className = owner->application;
    if (owner->pid) {
        std::error_code unreadable;
        program.executable = std::filesystem::read_symlink(
                                 "/proc/" + std::to_string(*owner->pid) + "/exe", unreadable)
                                 .filename()
                                 .string();
    }
    front.appName = DesktopEntries::displayName(program, DesktopEntries::folders())
                        .value_or(owner->application);
    return front;
}

std::optional<std::string> AtspiWindowProbe::title(const FrontWindow& window) {
    return focus_.windowTitle(window.id);
}
