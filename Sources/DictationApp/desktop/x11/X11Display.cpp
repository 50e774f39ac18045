#include "desktop/x11/X11Display.h"

#include <cstdlib>

namespace X11 {

namespace {
// Traps nest (an owner may call a helper that traps too); the innermost one catches.
thread_local ErrorTrap* current = nullptr;
} // namespace

void DisplayCloser::operator()(Display* display) const {
    if (display) {
        XCloseDisplay(display);
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
    DisplayHandle display(XOpenDisplay(name));
    if (!display) {
        why = std::string("cannot open X display ") + name;
    }
    return display;
}

ErrorTrap::ErrorTrap(Display* display)
    : display_(display), outer_(current), previous_(XSetErrorHandler(&ErrorTrap::handle)) {
    current = this;
}

ErrorTrap::~ErrorTrap() {
    XSync(display_, False);
    current = outer_;
    XSetErrorHandler(previous_);
}

int ErrorTrap::sync() {
    XSync(display_, False);
    return error_;
}

int ErrorTrap::handle(Display* display, XErrorEvent* event) {
    for (ErrorTrap* trap = current; trap; trap = trap->outer_) {
        if (trap->display_ == display) {
            if (trap->error_ == 0) {
                trap->error_ = event->error_code;
            }
            return 0;
        }
    }
    ErrorTrap* outermost = current;
    while (outermost && outermost->outer_) {
        outermost = outermost->outer_;
    }
    return outermost && outermost->previous_ ? outermost->previous_(display, event) : 0;
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
