#include "desktop/x11/AtspiWindowProbe.h"

#include "desktop/DesktopEntries.h"
#include "desktop/x11/AtspiFocusProbe.h"

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
        program.executable = DesktopEntries::executableOf(*owner->pid);
    }
    front.appName = DesktopEntries::nameOr(program, owner->application);
    return front;
}

std::optional<std::string> AtspiWindowProbe::title(const FrontWindow& window) {
    return focus_.windowTitle(window.id);
}
