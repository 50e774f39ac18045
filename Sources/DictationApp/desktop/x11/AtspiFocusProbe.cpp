// AT-SPI before Qt: GLib's headers use names that Qt defines as macros.
#include "desktop/x11/AtspiFocusProbe.h"

#include "platform/Log.h"

#include <QAbstractEventDispatcher>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QTimer>
#include <atspi/atspi.h>
#include <cstdlib>
#include <filesystem>

namespace {

struct GObjectUnref {
    void operator()(void* object) const {
        if (object) {
            g_object_unref(object);
        }
    }
};
template <typename T> using GRef = std::unique_ptr<T, GObjectUnref>;

// Takes ownership of a GError filled in by a call, so it is freed on every path.
class Failure {
  public:
    GError** out() { return &error_; }
    explicit operator bool() const { return error_ != nullptr; }
    std::string message() const { return error_ && error_->message ? error_->message : ""; }
    ~Failure() {
        if (error_) {
            g_error_free(error_);
        }
    }

  private:
    GError* error_ = nullptr;
};

class Element : public FocusedElement {
  public:
    explicit Element(AtspiAccessible* accessible)
        : accessible_(static_cast<AtspiAccessible*>(g_object_ref(accessible))) {}

    bool isSame(const FocusedElement& other) const override {
        const auto* element = dynamic_cast<const Element*>(&other);
        return element && element->accessible() == accessible();
    }
    AtspiAccessible* accessible() const { return accessible_.get(); }

  private:
    GRef<AtspiAccessible> accessible_;
};

// Whether a session bus can be reached without libdbus launching one of its own, which
// would outlive this program.
bool hasSessionBus(std::string& why) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus")) {
        return true;
    }
    why = "no D-Bus session bus";
    return false;
}

// Chromium, Electron and Qt apps build their accessibility tree only once the session says
// something uses it; without that, their fields' focus and kind stay invisible.
void switchOnAccessibility() {
    QDBusMessage set = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    set << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
        << QVariant::fromValue(QDBusVariant(true));
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(set, QDBus::Block, AtspiFocusProbe::timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        log("could not switch on accessibility: " + reply.errorMessage().toLower().toStdString());
    }
}

} // namespace

struct AtspiFocusProbe::Impl {
    std::string why;
    bool available = false;
    GRef<AtspiEventListener> listener;
    GRef<AtspiAccessible> focused;
    // The window focusedOwner() named last.
    GRef<AtspiAccessible> ownerWindow;
    QTimer glibPump;

    Impl() {
        if (!hasSessionBus(why)) {
            return;
        }
        // The registry may be started on demand by this very call: give it time once.
        atspi_set_timeout(startupTimeoutMs, startupTimeoutMs);
        if (atspi_init() > 1) {
            why = "AT-SPI could not start";
            return;
        }
        // A reachable registry answers; without an accessibility bus this fails quickly.
        GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
        Failure failure;
        if (!desktop || atspi_accessible_get_child_count(desktop.get(), failure.out()) < 0 ||
            failure) {
            why = "no AT-SPI registry (" + failure.message() + ")";
            return;
        }
        listener.reset(atspi_event_listener_new(&Impl::onFocus, this, nullptr));
        Failure registering;
        if (!atspi_event_listener_register(listener.get(), "object:state-changed:focused",
                                           registering.out())) {
            why = "cannot follow focus: " + registering.message();
            listener.reset();
            return;
        }
        available = true;
        atspi_set_timeout(timeoutMs, timeoutMs);
        switchOnAccessibility();
        // AT-SPI delivers its events through GLib's default main context; a Qt built without
        // GLib does not run it, so run it here.
        const auto* dispatcher = QAbstractEventDispatcher::instance();
        if (dispatcher && !dispatcher->inherits("QEventDispatcherGlib")) {
            glibPump.setInterval(20);
            QObject::connect(&glibPump, &QTimer::timeout,
                             [] { g_main_context_iteration(nullptr, FALSE); });
            glibPump.start();
        }
    }

    ~Impl() {
        if (listener) {
            atspi_event_listener_deregister(listener.get(), "object:state-changed:focused",
                                            nullptr);
        }
    }

    static void onFocus(AtspiEvent* event, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (event->source) {
            if (event->detail1 == 1) {
                self->focused.reset(static_cast<AtspiAccessible*>(g_object_ref(event->source)));
            } else if (event->source == self->focused.get()) {
                self->focused.reset();
            }
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    static std::string nameOf(AtspiAccessible* accessible) {
        Failure failure;
        gchar* name = atspi_accessible_get_name(accessible, failure.out());
        std::string text = name && !failure ? name : "";
        g_free(name);
        return text;
    }

    // The frame, window or dialog the element sits in; null when the tree shows none.
    static GRef<AtspiAccessible> windowOf(AtspiAccessible* accessible) {
        GRef<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(accessible)));
        // A bound, against a tree that loops.
        for (int depth = 0; current && depth < 64; ++depth) {
            Failure failure;
            const AtspiRole role = atspi_accessible_get_role(current.get(), failure.out());
            if (!failure && (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW ||
                             role == ATSPI_ROLE_DIALOG)) {
                return current;
            }
            Failure up;
            current.reset(atspi_accessible_get_parent(current.get(), up.out()));
            if (up) {
                break;
            }
        }
        return nullptr;
    }

    static bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
        GRef<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
        return states && atspi_state_set_contains(states.get(), state);
    }
};

AtspiFocusProbe::AtspiFocusProbe() : impl_(std::make_unique<Impl>()) {
    if (!impl_->available) {
        log("field checks unavailable: " + impl_->why);
    }
}

AtspiFocusProbe::~AtspiFocusProbe() = default;

bool AtspiFocusProbe::isAvailable() const {
    return impl_->available;
}

std::string AtspiFocusProbe::unavailableReason() const {
    return impl_->why;
}

std::shared_ptr<const FocusedElement> AtspiFocusProbe::focusedElement() {
    AtspiAccessible* accessible = impl_->focused.get();
    // Focus events can be missed (a window closed): the element must still say it has focus.
    if (!accessible || !Impl::hasState(accessible, ATSPI_STATE_FOCUSED)) {
        return nullptr;
    }
    return std::make_shared<Element>(accessible);
}

bool AtspiFocusProbe::isSecure(const FocusedElement& element) {
    const auto* e = dynamic_cast<const Element*>(&element);
    if (!e) {
        return false;
    }
    Failure failure;
    return atspi_accessible_get_role(e->accessible(), failure.out()) == ATSPI_ROLE_PASSWORD_TEXT &&
           !failure;
}

std::optional<AtspiFocusProbe::Owner> AtspiFocusProbe::focusedOwner() {
    const auto element = focusedElement();
    if (!element) {
        return std::nullopt;
    }
    AtspiAccessible* accessible = static_cast<const Element&>(*element).accessible();
    Owner owner;
    Failure failure;
    GRef<AtspiAccessible> application(atspi_accessible_get_application(accessible, failure.out()));
    if (!application || failure) {
        return std::nullopt;
    }
    owner.application = Impl::nameOf(application.get());
    Failure process;
    const guint pid = atspi_accessible_get_process_id(accessible, process.out());
    if (!process && pid > 0) {
        owner.pid = pid;
    }
    impl_->ownerWindow = Impl::windowOf(accessible);
    if (impl_->ownerWindow) {
        owner.window = reinterpret_cast<std::uintptr_t>(impl_->ownerWindow.get());
        owner.windowTitle = Impl::nameOf(impl_->ownerWindow.get());
    }
    return owner;
}

std::optional<std::string> AtspiFocusProbe::windowTitle(std::uint64_t window) {
    if (!impl_->ownerWindow || window == 0 ||
        reinterpret_cast<std::uintptr_t>(impl_->ownerWindow.get()) != window) {
        return std::nullopt;
    }
    std::string title = Impl::nameOf(impl_->ownerWindow.get());
    if (title.empty()) {
        return std::nullopt;
    }
    return title;
}

std::optional<FieldState> AtspiFocusProbe::state(const FocusedElement& element) {
    const auto* e = dynamic_cast<const Element*>(&element);
    if (!e) {
        return std::nullopt;
    }
    GRef<AtspiText> text(atspi_accessible_get_text_iface(e->accessible()));
    if (!text) {
        return std::nullopt;
    }
    Failure counting;
    const gint length = atspi_text_get_character_count(text.get(), counting.out());
    if (counting || length < 0) {
        return std::nullopt;
    }
    FieldState state;
    state.length = length;
    Failure caret;
    const gint offset = atspi_text_get_caret_offset(text.get(), caret.out());
    if (!caret && offset >= 0) {
        state.caret = offset;
    }
    return state;
}
