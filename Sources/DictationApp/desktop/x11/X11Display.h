#pragma once

// Only for the X11 backends' own .cpp files: this header pulls in Xlib and its macros.

#include <X11/Xlib.h>
#include <memory>
#include <string>

namespace X11 {

struct DisplayCloser {
    void operator()(Display* display) const;
};
// A private connection to the X server, closed with its owner.
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

// A connection of our own to $DISPLAY; null without one (the reason goes to `why`). Neither
// a failed request outside an ErrorTrap nor the loss of the connection ends the process, as
// Xlib's and Qt's handlers would: the first is logged, the second makes `isBroken` true.
DisplayHandle open(std::string& why);

// Whether the server closed or lost this connection of ours; open another one then.
bool isBroken(Display* display);

// Frees Xlib allocations (XFree).
struct Freer {
    void operator()(void* data) const;
};
template <typename T> using XPtr = std::unique_ptr<T, Freer>;

// Xlib's error handler while any connection of ours is open.
int handleError(Display* display, XErrorEvent* event);

// Catches the X errors that requests on `display` cause while it lives. Errors on connections
// not opened by `open` go to the handler that was there before.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to handle every request so far; the first error's code, 0 if none.
    int sync();

  private:
    friend int handleError(Display* display, XErrorEvent* event);

    Display* display_;
    int error_ = 0;
    ErrorTrap* outer_;
};

// Throws away the events waiting on a connection whose events nobody reads. Every client gets
// MappingNotify, and typing changes the keymap often, so they would pile up.
void dropPendingEvents(Display* display);

// A request's error code as a short phrase for the log ("BadValue (2)").
std::string errorText(Display* display, int code);

} // namespace X11
