#include "desktop/wayland/RecordKeyCommands.h"

#include "platform/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <algorithm>

RecordKeyCommands::RecordKeyCommands(QString busName) : busName_(std::move(busName)) {
    flush_.setSingleShot(true);
    connect(&flush_, &QTimer::timeout, this, &RecordKeyCommands::flush);
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
    // A press goes out even when its release came before it did: a tap stays a tap.
    pressPending_ = pressPending_ || (!wantDown_ && !toldDown_);
    wantDown_ = true;
    schedule();
}

void RecordKeyCommands::Stop() {
    wantDown_ = false;
    schedule();
}

void RecordKeyCommands::Toggle() {
    togglePending_ = !togglePending_;
    schedule();
}

void RecordKeyCommands::schedule() {
    if (flush_.isActive()) {
        return;
    }
    const qint64 since = sinceDelivery_.isValid() ? sinceDelivery_.elapsed() : gapMs;
    flush_.start(static_cast<int>(std::max<qint64>(0, gapMs - since)));
}

// One command per turn: a key's press or release first, then a toggle.
void RecordKeyCommands::flush() {
    KeyEvent::Kind kind;
    if (pressPending_) {
        pressPending_ = false;
        toldDown_ = true;
        kind = KeyEvent::Kind::recordKeyDown;
    } else if (toldDown_ && !wantDown_) {
        toldDown_ = false;
        kind = KeyEvent::Kind::recordKeyUp;
    } else if (togglePending_) {
        togglePending_ = false;
        kind = KeyEvent::Kind::recordToggle;
    } else {
        return;
    }
    sinceDelivery_.start();
    if ((toldDown_ && !wantDown_) || togglePending_) {
        schedule();
    }
    if (sink_) {
        sink_({.kind = kind});
    }
}
