#include "desktop/wayland/RecordKeyCommands.h"

#include "platform/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>

RecordKeyCommands::RecordKeyCommands(QString busName) : busName_(std::move(busName)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        why_ = "no session bus for the record key commands";
        return;
    }
    if (!bus.registerObject(QString::fromLatin1(objectPath), this,
                            QDBusConnection::ExportScriptableSlots)) {
        why_ = "the record key commands' object is taken";
        return;
    }
    registered_ = true;
    // The app holds the name already; terminal mode takes it here.
    if (bus.interface()->serviceOwner(busName_).value() == bus.baseService()) {
        return;
    }
    const auto taken =
        bus.interface()->registerService(busName_, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (taken.isValid() && taken.value() == QDBusConnectionInterface::ServiceRegistered) {
        ownsName_ = true;
        return;
    }
    why_ = "another copy holds " + busName_.toStdString() + " on the session bus";
    bus.unregisterObject(QString::fromLatin1(objectPath));
    registered_ = false;
}

RecordKeyCommands::~RecordKeyCommands() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (registered_) {
        bus.unregisterObject(QString::fromLatin1(objectPath));
    }
    if (ownsName_) {
        bus.unregisterService(busName_);
    }
}

bool RecordKeyCommands::isAvailable() const {
    return registered_;
}

std::string RecordKeyCommands::unavailableReason() const {
    return why_;
}

void RecordKeyCommands::start(std::function<void(const KeyEvent&)> sink) {
    if (registered_) {
        sink_ = std::move(sink);
    }
}

std::string RecordKeyCommands::command(const std::string& busName, const std::string& method) {
    return "dbus-send --session --type=method_call --dest=" + busName + " " + objectPath + " " +
           interfaceName + "." + method;
}

void RecordKeyCommands::Start() {
    // A bound key may repeat while held.
    if (!down_) {
        down_ = true;
        deliver(KeyEvent::Kind::recordKeyDown);
    }
}

void RecordKeyCommands::Stop() {
    down_ = false;
    deliver(KeyEvent::Kind::recordKeyUp);
}

void RecordKeyCommands::Toggle() {
    down_ = false;
    deliver(KeyEvent::Kind::recordToggle);
}

void RecordKeyCommands::deliver(KeyEvent::Kind kind) {
    if (sink_) {
        sink_({kind, 0, 0, false});
    }
}
