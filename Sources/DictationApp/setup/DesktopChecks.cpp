#include "setup/DesktopChecks.h"

#include "audio/PulseRecorder.h"
#include "desktop/wayland/WaylandDesktop.h"
#include "desktop/x11/X11Desktop.h"
#include "platform/Clock.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
const QString accessibilityBus = QStringLiteral("org.a11y.Bus");
constexpr int callLimitMs = 2000;

// Whether a session bus is there without libdbus launching one of its own, which would
// outlive us.
bool hasSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus");
}

QDBusMessage callBus(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, busService, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, callLimitMs);
}

} // namespace

namespace DesktopChecks {

std::string missingAccessibilityBus() {
    if (!hasSessionBus()) {
        return "no D-Bus session bus";
    }
    const QDBusMessage owned = callBus(QStringLiteral("NameHasOwner"), {accessibilityBus});
    if (owned.type() != QDBusMessage::ReplyMessage || owned.arguments().isEmpty()) {
        return "the session bus does not answer";
    }
    if (owned.arguments().front().toBool()) {
        return {};
    }
    const QDBusMessage startable = callBus(QStringLiteral("ListActivatableNames"));
    if (startable.type() == QDBusMessage::ReplyMessage && !startable.arguments().isEmpty() &&
        startable.arguments().front().toStringList().contains(accessibilityBus)) {
        return {};
    }
    return "no accessibility bus (at-spi2-core)";
}

SetupModel::Checks make(std::string clientName) {
    // Made on the first call and only ever used by the one thread that calls at a time.
    auto recorder = std::make_shared<std::unique_ptr<PulseRecorder>>();
    auto microphone = [recorder, clientName = std::move(clientName)] {
        if (!*recorder) {
            *recorder = std::make_unique<PulseRecorder>(clientName, std::make_shared<SystemClock>(),
                                                        [](std::function<void()>) {});
        }
        switch ((*recorder)->microphone()) {
        case PulseRecorder::Microphone::ready:
            return SetupModel::MicrophoneCheck{SetupModel::Microphone::granted, true,
                                               (*recorder)->microphoneName()};
        case PulseRecorder::Microphone::noInput:
            return SetupModel::MicrophoneCheck{SetupModel::Microphone::denied, true, {}};
        case PulseRecorder::Microphone::noServer:
            break;
        }
        return SetupModel::MicrophoneCheck{SetupModel::Microphone::denied, false, {}};
    };
    if (WaylandDesktop::isSession()) {
        return {std::move(microphone),
                &missingAccessibilityBus,
                &WaylandDesktop::missingAccess,
                true,
                {}};
    }
    return {std::move(microphone), &missingAccessibilityBus, &X11Desktop::missingAccess, false, {}};
}

} // namespace DesktopChecks
