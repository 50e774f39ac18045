#include "desktop/wayland/WaylandDesktop.h"

#include "desktop/KeyListeners.h"
#include "desktop/evdev/EvdevKeyListener.h"
#include "desktop/kde/KWinWindowProbe.h"
#include "desktop/portal/PortalKeyboard.h"
#include "desktop/portal/PortalShortcutListener.h"
#include "desktop/wayland/DataControlClipboard.h"
#include "desktop/wayland/ForeignToplevels.h"
#include "desktop/wayland/LayerOverlay.h"
#include "desktop/wayland/RecordKeyCommands.h"
#include "desktop/wayland/VirtualKeyboard.h"
#include "desktop/wayland/WaylandConnection.h"
#include "desktop/x11/AtspiFocusProbe.h"
#include "desktop/x11/AtspiWindowProbe.h"
#include "desktop/x11/X11Clipboard.h"
#include "desktop/x11/X11Desktop.h"
#include "desktop/x11/X11KeySynthesizer.h"
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

const char* const bindingNote =
    "Your desktop offers apps no shortcuts: bind the record key to Parlwick's commands in your "
    "compositor's settings (the README has the lines for sway).";

// The record key's sources, with a note for setup on how it is heard.
struct KeySources {
    std::unique_ptr<KeyListeners> listeners = std::make_unique<KeyListeners>();
    std::string description;
    std::function<std::string()> note;
};

KeySources keySources(const WaylandDesktop::Wishes& wishes) {
    KeySources sources;
    std::vector<std::string> names;
    // Unavailable from the start when the portal offers no shortcuts.
    if (auto portal = std::make_unique<PortalShortcutListener>(wishes.key);
        !portal->isAvailable()) {
        log("no shortcut portal: " + portal->unavailableReason());
    } else {
        const PortalShortcutListener* shortcut = portal.get();
        sources.listeners->add(std::move(portal));
        names.emplace_back("portal shortcut");
        sources.note = [shortcut] {
            if (!shortcut->isAvailable()) {
                return std::string(bindingNote);
            }
            const std::string trigger = shortcut->trigger();
            if (!shortcut->isBound() || trigger.empty()) {
                return std::string("Choose the record key in your desktop's shortcut settings, "
                                   "under Parlwick.");
            }
            return "The record key is your desktop's shortcut for Parlwick: " + trigger + ".";
        };
    }
    if (wishes.readInputDevices) {
        auto devices = std::make_unique<EvdevKeyListener>();
        if (devices->isAvailable()) {
            sources.listeners->add(std::move(devices));
            names.emplace_back("input devices");
            const std::string label(HotKeys::label(wishes.key));
            sources.note = [label] {
                return "Parlwick reads " + label + " from the keyboard devices.";
            };
        } else {
            log("input devices unreadable: " + devices->unavailableReason());
            const auto before = sources.note;
            sources.note = [before] {
                return (before ? before() : std::string(bindingNote)) + " " +
                       EvdevKeyListener::accessHelp();
            };
        }
    }
    // Only where nothing else gives the record key: any program of the user's can call them.
    if (names.empty()) {
        sources.listeners->add(
            std::make_unique<RecordKeyCommands>(QString::fromStdString(wishes.busName)));
        names.emplace_back("bus commands");
    }
    if (!sources.note) {
        sources.note = [] { return std::string(bindingNote); };
    }
    for (const auto& name : names) {
        sources.description += (sources.description.empty() ? "" : " + ") + name;
    }
    return sources;
}

} // namespace

namespace WaylandDesktop {

bool isSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    return display && *display;
}

std::string Choice::description() const {
    return "record key: " + keys + "; typing: " + typing + "; clipboard: " + clipboard +
           "; front app: " + windows + "; pill: " + overlay;
}

Desktop make(const Wishes& wishes, Choice* choice) {
    Choice chosen;
    Desktop desktop;
    std::string why;
    const auto connection = WaylandConnection::open(why);
    if (!connection) {
        log("wayland backends unavailable: " + why);
    } else {
        connection->watch();
    }

    KeySources keys = keySources(wishes);
    desktop.keys = std::move(keys.listeners);
    desktop.recordKeyNote = std::move(keys.note);
    chosen.keys = keys.description;

    if (connection && VirtualKeyboard::isOffered(*connection)) {
        desktop.synthesizer = std::make_unique<VirtualKeyboard>(connection);
        chosen.typing = "virtual keyboard";
    } else if (auto portal = std::make_unique<PortalKeyboard>(wishes.portalToken);
               portal->isAvailable()) {
        // Asked once, now: the desktop's dialog comes before the first dictation.
        portal->start();
        desktop.synthesizer = std::move(portal);
        chosen.typing = "remote desktop portal";
    } else {
        log("no remote desktop portal: " + portal->unavailableReason());
        if (hasXwayland()) {
            desktop.synthesizer = std::make_unique<X11KeySynthesizer>(*desktop.synthetic);
            chosen.typing = "xwayland (x11 windows only)";
        } else {
            desktop.synthesizer = std::make_unique<VirtualKeyboard>(connection);
            chosen.typing = "none";
        }
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

    // Qt's own windows float on X11 (Xwayland); on Wayland the pill needs the overlay layer.
    if (!qtRunsOnX11()) {
        desktop.overlay = LayerOverlay::make(connection);
        chosen.overlay = desktop.overlay ? "layer shell" : "none";
    }

    auto focus = std::make_unique<AtspiFocusProbe>();
    if (auto windows = connection ? ForeignToplevels::make(connection) : nullptr) {
        desktop.windows = std::move(windows);
        chosen.windows = "foreign toplevels";
    } else if (auto kwin = KWinWindowProbe::make(QString::fromStdString(wishes.busName))) {
        desktop.windows = std::move(kwin);
        chosen.windows = "kwin script";
    } else if (focus->isAvailable()) {
        desktop.windows = std::make_unique<AtspiWindowProbe>(*focus);
        chosen.windows = "at-spi";
    } else {
        desktop.windows = std::make_unique<NoWindows>();
        chosen.windows = "none";
    }
    desktop.focus = std::move(focus);

    log("wayland desktop: " + chosen.description());
    if (choice) {
        *choice = chosen;
    }
    return desktop;
}

std::unique_ptr<KeyListener> makeKeyListener(const Wishes& wishes) {
    return keySources(wishes).listeners;
}

std::string missingAccess() {
    std::string why;
    const auto connection = WaylandConnection::open(why);
    if (connection && VirtualKeyboard::isOffered(*connection)) {
        return {};
    }
    if (PortalKeyboard::isOffered()) {
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
