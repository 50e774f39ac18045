#include "desktop/x11/X11KeyListener.h"

#include "desktop/HeldModifiers.h"
#include "platform/Log.h"

#include <QSocketNotifier>
#include <QTimer>

// After Qt: Xlib's macros (None, KeyPress, ...) would break Qt's headers.
#include "desktop/x11/X11Display.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

namespace {

// XF86Fn: the evdev-derived keysym block starts at 0x10081000 and the kernel's KEY_FN is
// 0x1d0. XF86keysym.h spells it with a macro it never defines.
constexpr KeySym fnKeysym = 0x10081000 + 0x1d0;

} // namespace

// Keys by their keysym at the first level of the first group. AltGr layouts put
// ISO_Level3_Shift on the right Alt key, so both count as right-option.
std::optional<KeyEvent::Key> X11KeyListener::keyOf(unsigned long keysym) {
    using Input = KeyEvent::Input;
    switch (keysym) {
    case XK_Alt_R:
    case XK_ISO_Level3_Shift:
        return HotKey::rightOption;
    case XK_Super_R:
        return HotKey::rightCommand;
    case XK_Control_R:
        return HotKey::rightControl;
    case fnKeysym:
        return HotKey::fn;
    case XK_Escape:
        return Input::escape;
    default:
        break;
    }
    if (IsModifierKey(keysym)) {
        return std::nullopt;
    }
    return Input::otherKey;
}

struct X11KeyListener::Impl {
    SyntheticEvents& synthetic;
    X11::DisplayHandle display;
    std::string why;
    int opcode = 0;
    std::function<void(const KeyEvent&)> sink;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer heldPoll;
    HeldModifiers down;

    // Tries again this often to connect once the server dropped the connection.
    static constexpr int reconnectMs = 1000;
    QTimer reconnect;

    explicit Impl(SyntheticEvents& events) : synthetic(events) { connect(); }

    void connect() {
        display = X11::open(why);
        if (!display) {
            return;
        }
        int event = 0;
        int error = 0;
        if (!XQueryExtension(display.get(), "XInputExtension", &opcode, &event, &error)) {
            why = "the X server has no XInput extension";
            display.reset();
            return;
        }
        // Raw events reach clients that hold no grab from version 2.1 on.
        int major = 2;
        int minor = 2;
        if (XIQueryVersion(display.get(), &major, &minor) != Success || major < 2 ||
            (major == 2 && minor < 1)) {
            why = "the X server's XInput is older than 2.1";
            display.reset();
        }
    }

    void listen() {
        notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(display.get()),
                                                     QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
        // Events read while selecting sit in Xlib's queue, where the socket no longer shows them.
        QTimer::singleShot(0, notifier.get(), [this] { drain(); });
    }

    // The server dropped the connection: whatever was held is let go, and a new connection
    // is tried until one works.
    void lost() {
        log("key listener: the X connection was lost, connecting again");
        notifier.release()->deleteLater();
        heldPoll.stop();
        for (const KeyEvent& event : down.reconcile([](unsigned) { return false; })) {
            deliver(event);
        }
        reconnect.start(reconnectMs);
    }

    void tryReconnect() {
        display.reset();
        connect();
        if (!display || !select()) {
            return;
        }
        reconnect.stop();
        log("key listener: connected again");
        listen();
    }

    bool select() {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XISetMask(bits, XI_RawButtonPress);
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        X11::ErrorTrap trap(display.get());
        XISelectEvents(display.get(), DefaultRootWindow(display.get()), &mask, 1);
        if (const int error = trap.sync()) {
            log("key listener: selecting raw events failed: " +
                X11::errorText(display.get(), error));
            return false;
        }
        return true;
    }

    void drain() {
        if (!notifier) {
            return; // lost, and not connected again yet
        }
        Display* d = display.get();
        while (!X11::isBroken(d) && XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
                continue;
            }
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != opcode ||
                !XGetEventData(d, cookie)) {
                continue;
            }
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const int type = cookie->evtype;
            const unsigned detail = static_cast<unsigned>(raw->detail);
            const bool repeat = (raw->flags & XIKeyRepeat) != 0;
            XFreeEventData(d, cookie);
            if (type == XI_RawButtonPress) {
                if (detail == 1) {
                    deliver(KeyEvent{.key = KeyEvent::Input::pointerButton});
                }
            } else if (!repeat || type == XI_RawKeyRelease) {
                key(detail, type == XI_RawKeyPress);
            }
        }
        if (X11::isBroken(d)) {
            lost();
            return;
        }
        pollWhileHeld();
    }

    void key(unsigned keycode, bool press) {
        const bool ours = synthetic.claim(keycode, press);
        const KeySym sym = XkbKeycodeToKeysym(display.get(), static_cast<KeyCode>(keycode), 0, 0);
        if (const auto event = down.event(keycode, press, keyOf(sym), ours)) {
            deliver(*event);
        }
    }

    void deliver(const KeyEvent& event) {
        if (sink) {
            sink(event);
        }
    }

    void pollWhileHeld() {
        const bool held = !down.empty();
        if (held && !heldPoll.isActive()) {
            heldPoll.start();
        } else if (!held) {
            heldPoll.stop();
        }
    }

    // Releases that never arrived as events: keys we believe down that the server says are up.
    void checkHeldKeys() {
        drain();
        if (!notifier) {
            return;
        }
        char keys[32] = {};
        XQueryKeymap(display.get(), keys);
        const auto released = down.reconcile(
            [&](unsigned code) { return code < 256 && (keys[code / 8] & (1 << (code % 8))) != 0; });
        for (const KeyEvent& event : released) {
            log("key listener: a key release went missing, ending the hold");
            deliver(event);
        }
        pollWhileHeld();
    }
};

X11KeyListener::X11KeyListener(SyntheticEvents& synthetic)
    : impl_(std::make_unique<Impl>(synthetic)) {}

X11KeyListener::~X11KeyListener() = default;

bool X11KeyListener::isAvailable() const {
    return impl_->display != nullptr;
}

std::string X11KeyListener::unavailableReason() const {
    return impl_->why;
}

void X11KeyListener::start(std::function<void(const KeyEvent&)> sink) {
    if (!impl_->display || impl_->sink || !impl_->select()) {
        return;
    }
    impl_->sink = std::move(sink);
    impl_->heldPoll.setInterval(heldKeyPollMs);
    QObject::connect(&impl_->heldPoll, &QTimer::timeout,
                     [impl = impl_.get()] { impl->checkHeldKeys(); });
    QObject::connect(&impl_->reconnect, &QTimer::timeout,
                     [impl = impl_.get()] { impl->tryReconnect(); });
    impl_->listen();
}
