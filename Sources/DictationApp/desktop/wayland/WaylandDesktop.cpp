#include "desktop/wayland/WaylandDesktop.h"

#include "desktop/KeyListeners.h"
#include "desktop/wayland/DataControlClipboard.h"
#include "desktop/wayland/ForeignToplevels.h"
#include "desktop/wayland/RecordKeyCommands.h"
#include "desktop/wayland/VirtualKeyboard.h"
#include "desktop/wayland/WaylandConnection.h"
#include "desktop/x11/AtspiFocusProbe.h"
#include "desktop/x11/X11Clipboard.h"
#include "desktop/x11/X11Desktop.h"
#include "desktop/x11/X11KeySynthesizer.h"
#include "desktop/x11/X11WindowProbe.h"
#include "platform/Log.h"

#include <QGuiApplication>
#include <cstdlib>

namespace {

bool hasXwayland() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

bool qtRunsOnX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// Stand-ins for a concern nothing in the session serves: they say so when asked.
struct NoClipboard : Clipboard {
    bool isAvailable() const override { return false; }
    std::optional<ClipboardContents> snapshot() override { return std::nullopt; }
    std::uint64_t writeText(const std::string&, std::uint64_t) override { return 0; }
    bool holds(std::uint64_t) const override { return false; }
    bool wasFetched(std::uint64_t) const override { return false; }
    void setFetchedHandler(std::function<void(std::uint64_t)>) override {}
    void restore(const ClipboardContents&) override {}
};

struct NoWindows : WindowProbe {
    bool isAvailable() const override { return false; }
    std::optional<FrontWindow> frontmost() override { return std::nullopt; }
    std::optional<std::string> title(const FrontWindow&) override { return std::nullopt; }
    bool isKeyboardGrabbed() override { return false; }
};

} // namespace

namespace WaylandDesktop {

bool isSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display && *display) || (type && std::string(type) == "wayland");
}

std::string Choice::description() const {
    return "record key: " + keys + "; typing: " + typing + "; clipboard: " + clipboard +
           "; front app: " + windows;
}

std::unique_ptr<KeyListener> makeKeyListener(const std::string& busName) {
    auto listeners = std::make_unique<KeyListeners>();
    listeners->add(std::make_unique<RecordKeyCommands>(QString::fromStdString(busName)));
    return listeners;
}

Desktop make(const std::string& busName, Choice* choice) {
    Choice chosen;
    Desktop desktop;
    std::string why;
    const auto connection = WaylandConnection::open(why);
    if (!connection) {
        log("wayland backends unavailable: " + why);
    } else {
        connection->watch();
    }

    desktop.keys = makeKeyListener(busName);
    chosen.keys = "bus commands";

    if (connection && VirtualKeyboard::isOffered(*connection)) {
        desktop.synthesizer = std::make_unique<VirtualKeyboard>(connection);
        chosen.typing = "virtual keyboard";
    } else if (hasXwayland()) {
        desktop.synthesizer = std::make_unique<X11KeySynthesizer>(*desktop.synthetic);
        chosen.typing = "xwayland (x11 windows only)";
    } else {
        desktop.synthesizer = std::make_unique<VirtualKeyboard>(connection);
        chosen.typing = "none";
    }

    if (auto clipboard = connection ? DataControlClipboard::make(connection) : nullptr) {
        chosen.clipboard = DataControlClipboard::offered(*connection);
        desktop.clipboard = std::move(clipboard);
    } else if (hasXwayland() && qtRunsOnX11()) {
        desktop.clipboard = std::make_unique<X11Clipboard>();
        chosen.clipboard = "xwayland";
    } else {
        desktop.clipboard = std::make_unique<NoClipboard>();
        chosen.clipboard = "none";
    }

    if (auto windows = connection ? ForeignToplevels::make(connection) : nullptr) {
        desktop.windows = std::move(windows);
        chosen.windows = "foreign toplevels";
    } else if (hasXwayland()) {
        desktop.windows = std::make_unique<X11WindowProbe>();
        chosen.windows = "xwayland (x11 windows only)";
    } else {
        desktop.windows = std::make_unique<NoWindows>();
        chosen.windows = "none";
    }
    desktop.focus = std::make_unique<AtspiFocusProbe>();

    log("wayland desktop: " + chosen.description());
    if (choice) {
        *choice = chosen;
    }
    return desktop;
}

std::string missingAccess() {
    std::string why;
    const auto connection = WaylandConnection::open(why);
    if (connection && VirtualKeyboard::isOffered(*connection)) {
        return {};
    }
    if (hasXwayland() && X11Desktop::missingAccess().empty()) {
        return {};
    }
    if (!connection) {
        return why;
    }
    return "the compositor offers no virtual keyboard and no remote desktop portal";
}

} // namespace WaylandDesktop
