#include "desktop/x11/X11WindowProbe.h"

#include "desktop/DesktopEntries.h"
#include "desktop/x11/X11Display.h"
#include "platform/Log.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <filesystem>

namespace {

// One property's items; nothing when the window lacks it or is gone.
template <typename Item>
std::optional<std::vector<Item>> property(Display* display, Window window, Atom name, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    X11::ErrorTrap trap(display);
    const int status = XGetWindowProperty(display, window, name, 0, 1 << 16, False, type,
                                          &actualType, &format, &count, &after, &data);
    X11::XPtr<unsigned char> owned(data);
    if (trap.sync() != 0 || status != Success || actualType != type || !data) {
        return std::nullopt;
    }
    // Xlib hands 32-bit items over as longs, 8-bit ones as bytes.
    std::vector<Item> items;
    if (format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    } else if (format == 8) {
        items.assign(data, data + count);
    }
    return items;
}

} // namespace

struct X11WindowProbe::Impl {
    X11::DisplayHandle display;
    std::string why;
    Atom activeWindow = None;
    Atom wmPid = None;
    Atom wmName = None;
    Atom utf8 = None;

    Impl() { connect(); }

    void connect() {
        display = X11::open(why);
        if (!display) {
            log("window probe unavailable: " + why);
            return;
        }
        activeWindow = XInternAtom(display.get(), "_NET_ACTIVE_WINDOW", False);
        wmPid = XInternAtom(display.get(), "_NET_WM_PID", False);
        wmName = XInternAtom(display.get(), "_NET_WM_NAME", False);
        utf8 = XInternAtom(display.get(), "UTF8_STRING", False);
    }

    // The connection, a new one in place of one the server dropped.
    Display* d() {
        if (display && X11::isBroken(display.get())) {
            display.reset();
            connect();
        }
        return display.get();
    }
};

X11WindowProbe::X11WindowProbe() : impl_(std::make_unique<Impl>()) {}

X11WindowProbe::~X11WindowProbe() = default;

bool X11WindowProbe::isAvailable() const {
    return impl_->display != nullptr;
}

std::optional<FrontWindow> X11WindowProbe::frontmost() {
    Display* d = impl_->d();
    if (!d) {
        return std::nullopt;
    }
    const auto active =
        property<unsigned long>(d, DefaultRootWindow(d), impl_->activeWindow, XA_WINDOW);
    if (!active || active->empty() || active->front() == 0) {
        return std::nullopt;
    }
    FrontWindow front;
    front.id = active->front();
    const Window window = static_cast<Window>(front.id);

    DesktopEntries::Program program;
    {
        XClassHint hint{};
        X11::ErrorTrap trap(d);
        const Status status = XGetClassHint(d, window, &hint);
        X11::XPtr<char> name(hint.res_name);
        X11::XPtr<char> className(hint.res_class);
        if (trap.sync() == 0 && status) {
            program.instance = name ? name.get() : "";
            program.className = className ? className.get() : "";
        }
    }
    if (const auto pid = property<unsigned long>(d, window, impl_->wmPid, XA_CARDINAL);
        pid && !pid->empty()) {
        front.pid = static_cast<std::int64_t>(pid->front());
        program.executable = DesktopEntries::executableOf(*front.pid);
    }
    front.windowClass = program.className;
    if (program.className.empty() && program.instance.empty() && !front.pid) {
        log("window probe: the active window has no class and no process id");
    }
    front.appName = DesktopEntries::nameOr(program, program.className);
    return front;
}

std::optional<std::string> X11WindowProbe::title(const FrontWindow& front) {
    Display* d = impl_->d();
    if (!d) {
        return std::nullopt;
    }
    const Window window = static_cast<Window>(front.id);
    if (const auto name = property<char>(d, window, impl_->wmName, impl_->utf8)) {
        return std::string(name->begin(), name->end());
    }
    // Older programs (xterm) set only WM_NAME, in any of the X text encodings.
    XTextProperty text{};
    X11::ErrorTrap trap(d);
    const Status status = XGetWMName(d, window, &text);
    X11::XPtr<unsigned char> value(text.value);
    if (trap.sync() != 0 || !status || !text.value) {
        return std::nullopt;
    }
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(d, &text, &list, &count) < Success || count < 1 || !list) {
        return std::nullopt;
    }
    std::string result = list[0];
    XFreeStringList(list);
    return result;
}

bool X11WindowProbe::isKeyboardGrabbed() {
    Display* d = impl_->d();
    if (!d) {
        return false;
    }
    X11::ErrorTrap trap(d);
    const int status =
        XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (status == GrabSuccess) {
        XUngrabKeyboard(d, CurrentTime);
    }
    trap.sync();
    return status == AlreadyGrabbed || status == GrabFrozen;
}
