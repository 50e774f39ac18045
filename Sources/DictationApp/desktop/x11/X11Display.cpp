#include "desktop/x11/X11Display.h"

#include "platform/Log.h"

#include <cstdlib>
#include <mutex>
#include <set>

namespace X11 {

namespace {

// Traps nest (an owner may call a helper that traps too); the innermost one catches.
thread_local ErrorTrap* current = nullptr;

// Our connections, those the server dropped, and the handlers that were there before ours.
std::mutex lock;
std::set<Display*> ours;
std::set<Display*> broken;
XErrorHandler previousError = nullptr;
XIOErrorHandler previousIOError = nullptr;

bool isOurs(Display* display) {
    const std::lock_guard guard(lock);
    return ours.contains(display);
}

int handleIOError(Display* display) {
    if (!isOurs(display)) {
        return previousIOError ? previousIOError(display) : 0;
    }
    {
        const std::lock_guard guard(lock);
        broken.insert(display);
    }
    log("x11 connection lost");
    return 0;
}

// Returning from here, unlike Xlib's default, leaves the process running; every later request
// on the dead connection returns at once.
void keepRunning(Display*, void*) {}

// Ours stay installed: a trap only enters the chain `handleError` reads.
void installHandlers() {
    const std::lock_guard guard(lock);
    if (const XErrorHandler before = XSetErrorHandler(&handleError); before != &handleError) {
        previousError = before;
    }
    if (const XIOErrorHandler before = XSetIOErrorHandler(&handleIOError);
        before != &handleIOError) {
        previousIOError = before;
    }
}

} // namespace

int handleError(Display* display, XErrorEvent* event) {
    for (ErrorTrap* trap = current; trap; trap = trap->outer_) {
        if (trap->display_ == display) {
            if (trap->error_ == 0) {
                trap->error_ = event->error_code;
            }
            return 0;
        }
    }
    if (isOurs(display)) {
        log("x11 request " + std::to_string(event->request_code) +
            " failed: " + errorText(display, event->error_code));
        return 0;
    }
    return previousError ? previousError(display, event) : 0;
}

void DisplayCloser::operator()(Display* display) const {
    if (display) {
        XCloseDisplay(display);
        const std::lock_guard guard(lock);
        ours.erase(display);
        broken.erase(display);
    }
}

void Freer::operator()(void* data) const {
    if (data) {
        XFree(data);
    }
}

DisplayHandle open(std::string& why) {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        why = "no X display (DISPLAY is not set)";
        return nullptr;
    }
    installHandlers();
    DisplayHandle display(XOpenDisplay(name));
    if (!display) {
        why = std::string("cannot open X display ") + name;
        return nullptr;
    }
    XSetIOErrorExitHandler(display.get(), &keepRunning, nullptr);
    const std::lock_guard guard(lock);
    ours.insert(display.get());
    return display;
}

bool isBroken(Display* display) {
    const std::lock_guard guard(lock);
    return broken.contains(display);
}

ErrorTrap::ErrorTrap(Display* display) : display_(display), outer_(current) {
    installHandlers();
    current = this;
}

ErrorTrap::~ErrorTrap() {
    XSync(display_, False);
    current = outer_;
}

int ErrorTrap::sync() {
    XSync(display_, False);
    return error_;
}

void dropPendingEvents(Display* display) {
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
    }
}

std::string errorText(Display* display, int code) {
    char text[128] = {};
    XGetErrorText(display, code, text, sizeof text);
    return std::string(text) + " (" + std::to_string(code) + ")";
}

} // namespace X11
