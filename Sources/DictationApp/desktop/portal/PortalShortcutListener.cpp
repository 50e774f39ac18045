#include "desktop/portal/PortalShortcutListener.h"

#include "desktop/portal/PortalRequest.h"
#include "platform/Log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QObject>

namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// Creating the session asks nothing of the user; binding may wait on a dialog.
constexpr std::chrono::seconds sessionTimeout{30};
constexpr std::chrono::minutes bindTimeout{5};

} // namespace

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap details;
};
Q_DECLARE_METATYPE(PortalShortcut)

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.details;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.details;
    argument.endStructure();
    return argument;
}

namespace {

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    (void)registered;
}

QList<PortalShortcut> shortcutsOf(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() == QLatin1String("a(sa{sv})")) {
            return qdbus_cast<QList<PortalShortcut>>(argument);
        }
    }
    return value.value<QList<PortalShortcut>>();
}

} // namespace

struct PortalShortcutListener::Impl {
    QDBusConnection bus;
    std::string preferred;
    std::string trigger;
    bool bound = false;
    bool available = true;
    std::string why;
    QString session;
    bool down = false;
    std::function<void(const KeyEvent&)> sink;
    std::function<void(const std::string&)> triggerChanged;
    PortalSignalReceiver receiver{[this](const QDBusMessage& message) { handle(message); }};
    QDBusServiceWatcher watcher;

    Impl(QDBusConnection connection, std::string preferredTrigger)
        : bus(std::move(connection)), preferred(std::move(preferredTrigger)), trigger(preferred) {
        registerTypes();
    }

    ~Impl() {
        unsubscribe();
        if (!session.isEmpty()) {
            Portal::closeSession(bus, session);
        }
    }

    void subscribe(bool on) {
        for (const char* name : {"Activated", "Deactivated", "ShortcutsChanged"}) {
            receiver.listen(bus, Portal::path, shortcutsInterface, QString::fromLatin1(name), on);
        }
        if (!session.isEmpty()) {
            receiver.listen(bus, session, Portal::sessionInterface, QStringLiteral("Closed"), on);
        }
    }
    void unsubscribe() { subscribe(false); }

    void start() {
        // The session's path is known before it exists, so a Closed sent at once is not missed.
        const QString sessionToken = Portal::token();
        session = Portal::handlePath(bus, QStringLiteral("session"), sessionToken);
        subscribe(true);
        watcher.setConnection(bus);
        watcher.addWatchedService(Portal::service);
        watcher.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &receiver,
                         [this] { fail("the desktop portal went away"); });
        Portal::request(bus, shortcutsInterface, QStringLiteral("CreateSession"), {},
                        {{QStringLiteral("session_handle_token"), sessionToken}}, sessionTimeout,
                        &receiver, [this](const PortalResponse& response) {
                            if (!response.isGranted()) {
                                fail("no shortcut session: " + response.reason);
                                return;
                            }
                            const QString handle = Portal::pathOf(
                                response.results.value(QStringLiteral("session_handle")));
                            if (!handle.isEmpty() && handle != session) {
                                unsubscribe();
                                session = handle;
                                subscribe(true);
                            }
                            bind();
                        });
    }

    void bind() {
        QVariantMap details{{QStringLiteral("description"), QString::fromLatin1(description)}};
        if (!preferred.empty()) {
            details.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(preferred));
        }
        const QList<PortalShortcut> shortcuts{{QString::fromLatin1(shortcutId), details}};
        Portal::request(bus, shortcutsInterface, QStringLiteral("BindShortcuts"),
                        {QVariant::fromValue(QDBusObjectPath(session)),
                         QVariant::fromValue(shortcuts), QString()},
                        {}, bindTimeout, &receiver, [this](const PortalResponse& response) {
                            if (!response.isGranted()) {
                                fail("the shortcut was not bound: " + response.reason);
                                return;
                            }
                            takeShortcuts(response.results.value(QStringLiteral("shortcuts")));
                            if (!bound) {
                                log("global shortcut: the desktop bound no trigger yet");
                            }
                        });
    }

    // What the desktop bound: it may choose another trigger than ours, or none for now.
    void takeShortcuts(const QVariant& value) {
        bound = false;
        std::string now = preferred;
        for (const PortalShortcut& shortcut : shortcutsOf(value)) {
            if (shortcut.id != QLatin1String(shortcutId)) {
                continue;
            }
            bound = true;
            const QString description =
                shortcut.details.value(QStringLiteral("trigger_description")).toString();
            if (!description.isEmpty()) {
                now = description.toStdString();
            }
        }
        if (now != trigger) {
            trigger = now;
            if (triggerChanged) {
                triggerChanged(trigger);
            }
        }
    }

    void handle(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        const QString member = message.member();
        if (member == QLatin1String("Closed")) {
            if (message.path() == session) {
                fail("the desktop closed the shortcut session");
                session.clear();
            }
            return;
        }
        if (arguments.size() < 2 || Portal::pathOf(arguments.at(0)) != session || !available) {
            return;
        }
        if (member == QLatin1String("ShortcutsChanged")) {
            takeShortcuts(arguments.at(1));
            return;
        }
        if (arguments.at(1).toString() != QLatin1String(shortcutId)) {
            return;
        }
        // Desktops repeat Activated while the keys stay down; one press is one press.
        if (member == QLatin1String("Activated") && !down) {
            down = true;
            deliver(KeyEvent::Kind::recordKeyDown);
        } else if (member == QLatin1String("Deactivated") && down) {
            down = false;
            deliver(KeyEvent::Kind::recordKeyUp);
        }
    }

    void deliver(KeyEvent::Kind kind) {
        if (sink) {
            sink({.kind = kind});
        }
    }

    void fail(std::string reason) {
        if (!available) {
            return;
        }
        available = false;
        why = std::move(reason);
        log("global shortcut unavailable: " + why);
        unsubscribe();
        watcher.removeWatchedService(Portal::service);
        // A shortcut that can no longer come up must not leave a recording running.
        if (down) {
            down = false;
            deliver(KeyEvent::Kind::recordKeyUp);
        }
    }
};

PortalShortcutListener::PortalShortcutListener(HotKey key, QDBusConnection bus)
    : impl_(std::make_unique<Impl>(bus, preferredTrigger(key))) {
    isOffered(&impl_->why, bus);
    impl_->available = impl_->why.empty();
}

PortalShortcutListener::~PortalShortcutListener() = default;

std::string PortalShortcutListener::preferredTrigger(HotKey key) {
    switch (key) {
    case HotKey::rightOption:
        return "Alt_R";
    case HotKey::rightCommand:
        return "Super_R";
    case HotKey::rightControl:
        return "Control_R";
    case HotKey::fn:
        break;
    }
    return {};
}

bool PortalShortcutListener::isOffered(std::string* why, QDBusConnection bus) {
    return Portal::version(std::move(bus), shortcutsInterface, why) > 0;
}

bool PortalShortcutListener::isAvailable() const {
    return impl_->available;
}

std::string PortalShortcutListener::unavailableReason() const {
    return impl_->why;
}

void PortalShortcutListener::start(std::function<void(const KeyEvent&)> sink) {
    if (!impl_->available || impl_->sink) {
        return;
    }
    impl_->sink = std::move(sink);
    impl_->start();
}

std::string PortalShortcutListener::trigger() const {
    return impl_->trigger;
}

bool PortalShortcutListener::isBound() const {
    return impl_->bound;
}

void PortalShortcutListener::onTriggerChanged(std::function<void(const std::string&)> changed) {
    impl_->triggerChanged = std::move(changed);
}
