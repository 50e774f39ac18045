#include "desktop/kde/KWinWindowProbe.h"

#include "desktop/DesktopEntries.h"
#include "desktop/kde/ActiveWindowScript.h"
#include "platform/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <utility>

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");
const QString scriptingPath = QStringLiteral("/Scripting");
const QString scriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
const QString scriptInterface = QStringLiteral("org.kde.kwin.Script");
const QString accessDenied = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
const QString invalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");

// KWin is the compositor: a call it does not answer at once is not worth waiting long for.
constexpr int callTimeoutMs = 3000;
// A KWin that has just come back may not have its scripting object yet.
constexpr std::chrono::milliseconds reloadDelay{1000};

// What the script said about the active window.
struct Report {
    QString resourceClass;
    QString resourceName;
    QString caption;
    std::optional<std::int64_t> pid;

    bool operator==(const Report&) const = default;
};

// A JavaScript number reaches the bus as a double or an integer, depending on KWin's version.
std::optional<std::int64_t> pidOf(const QVariant& value) {
    bool ok = false;
    if (value.metaType() == QMetaType::fromType<double>()) {
        const double number = value.toDouble();
        if (std::isfinite(number) && number == std::floor(number) && number > 0 &&
            number <= std::numeric_limits<std::int32_t>::max()) {
            return static_cast<std::int64_t>(number);
        }
        return std::nullopt;
    }
    const qlonglong number = value.toLongLong(&ok);
    // KWin says 0 (or -1) when it does not know the process.
    if (!ok || number <= 0 || number > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return number;
}

bool isString(const QVariant& value) {
    return value.metaType() == QMetaType::fromType<QString>();
}

// Our object on the bus. A virtual object rather than an adaptor: it sees every call whatever
// the argument types KWin's script engine chose, and replies by itself.
class ActiveWindowObject : public QDBusVirtualObject {
  public:
    explicit ActiveWindowObject(std::function<bool(const QDBusMessage&)> handler)
        : handler_(std::move(handler)) {}

    // False leaves the call to Qt, which answers introspection itself.
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        return handler_(message);
    }

    QString introspect(const QString&) const override {
        return QStringLiteral("<interface name=\"%1\">"
                              "<method name=\"Activated\">"
                              "<arg name=\"resourceClass\" type=\"s\" direction=\"in\"/>"
                              "<arg name=\"resourceName\" type=\"s\" direction=\"in\"/>"
                              "<arg name=\"caption\" type=\"s\" direction=\"in\"/>"
                              "<arg name=\"pid\" type=\"i\" direction=\"in\"/>"
                              "</method>"
                              "<method name=\"Closed\"/>"
                              "</interface>")
            .arg(QString::fromLatin1(ActiveWindowScript::interfaceName));
    }

  private:
    std::function<bool(const QDBusMessage&)> handler_;
};

} // namespace

struct KWinWindowProbe::Impl {
    QDBusConnection bus;
    QString busName;
    QString plugin;
    QTemporaryDir folder;
    QString scriptFile;
    // KWin's unique name: the only sender whose reports count.
    QString kwinOwner;
    bool running = false;
    std::optional<Report> current;
    std::uint64_t id = 0;
    std::uint64_t lastId = 0;
    bool warnedStranger = false;
    ActiveWindowObject object{[this](const QDBusMessage& message) { return handle(message); }};
    QDBusServiceWatcher watcher;

    Impl(QDBusConnection connection, QString name)
        : bus(std::move(connection)), busName(std::move(name)),
          plugin(ActiveWindowScript::pluginName(busName)) {}

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        auto message = QDBusMessage::createMethodCall(kwinService, path, interface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, callTimeoutMs);
    }

    // The script in a folder only we can read; KWin reads it when the script runs.
    bool writeScript() {
        if (!folder.isValid()) {
            log("kde window probe: no private folder for the kwin script: " +
                folder.errorString().toStdString());
            return false;
        }
        scriptFile = folder.filePath(QStringLiteral("active-window.js"));
        QFile file(scriptFile);
        const QByteArray text = ActiveWindowScript::text(busName).toUtf8();
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
            file.write(text) != text.size() || !file.flush()) {
            log("kde window probe: cannot write the kwin script: " +
                file.errorString().toStdString());
            return false;
        }
        return true;
    }

    // Loads and runs the script; the reason when KWin would not (empty on success).
    std::string load() {
        // A copy of ours left by a run that crashed would make loadScript refuse the name.
        const QDBusMessage unloaded =
            call(scriptingPath, scriptingInterface, QStringLiteral("unloadScript"), {plugin});
        if (unloaded.type() != QDBusMessage::ReplyMessage) {
            return "kwin offers no scripting: " + unloaded.errorMessage().toStdString();
        }
        const QDBusMessage loaded = call(scriptingPath, scriptingInterface,
                                         QStringLiteral("loadScript"), {scriptFile, plugin});
        if (loaded.type() != QDBusMessage::ReplyMessage || loaded.arguments().isEmpty()) {
            return "kwin did not load the script: " + loaded.errorMessage().toStdString();
        }
        bool ok = false;
        const int scriptId = loaded.arguments().constFirst().toInt(&ok);
        if (!ok || scriptId < 0) {
            return "kwin refused the script";
        }
        // Plasma 6 puts the script's object under /Scripting, Plasma 5 at the root.
        const QString number = QString::number(scriptId);
        QDBusMessage ran = call(QStringLiteral("/Scripting/Script") + number, scriptInterface,
                                QStringLiteral("run"));
        if (ran.type() != QDBusMessage::ReplyMessage) {
            ran = call(QStringLiteral("/") + number, scriptInterface, QStringLiteral("run"));
        }
        if (ran.type() != QDBusMessage::ReplyMessage) {
            call(scriptingPath, scriptingInterface, QStringLiteral("unloadScript"), {plugin});
            return "kwin did not run the script: " + ran.errorMessage().toStdString();
        }
        running = true;
        return {};
    }

    void unload() {
        if (running && !kwinOwner.isEmpty()) {
            call(scriptingPath, scriptingInterface, QStringLiteral("unloadScript"), {plugin});
        }
        running = false;
    }

    void reply(const QDBusMessage& message, const QString& error = {}, const QString& why = {}) {
        if (!message.isReplyRequired()) {
            return;
        }
        bus.send(error.isEmpty() ? message.createReply() : message.createErrorReply(error, why));
    }

    bool handle(const QDBusMessage& message) {
        if (message.type() != QDBusMessage::MethodCallMessage ||
            (message.interface() != QLatin1String(ActiveWindowScript::interfaceName) &&
             !message.interface().isEmpty())) {
            return false;
        }
        // Any program on the bus can call us; only KWin knows which window is active.
        if (kwinOwner.isEmpty() || message.service() != kwinOwner) {
            if (!warnedStranger) {
                warnedStranger = true;
                log("kde window probe: ignored a window report from " +
                    message.service().toStdString() + ", which is not kwin");
            }
            reply(message, accessDenied, QStringLiteral("only kwin reports windows"));
            return true;
        }
        const QVariantList arguments = message.arguments();
        if (message.member() == QLatin1String("Closed") && arguments.isEmpty()) {
            current.reset();
            reply(message);
            return true;
        }
        if (message.member() == QLatin1String("Activated") && arguments.size() == 4 &&
            isString(arguments[0]) && isString(arguments[1]) && isString(arguments[2])) {
            take(Report{arguments[0].toString(), arguments[1].toString(), arguments[2].toString(),
                        pidOf(arguments[3])});
            reply(message);
            return true;
        }
        reply(message, invalidArgs, QStringLiteral("expected Activated(sssi) or Closed()"));
        return true;
    }

    void take(Report report) {
        if (current != report) {
            id = ++lastId;
        }
        current = std::move(report);
    }

    // A KWin that went away took our script with it; a new one gets the script again.
    void ownerChanged(const QString& owner) {
        current.reset();
        running = false;
        kwinOwner = owner;
        if (owner.isEmpty()) {
            log("kde window probe: kwin left the session bus");
            return;
        }
        QTimer::singleShot(reloadDelay, &watcher, [this, owner] {
            if (kwinOwner != owner || running) {
                return;
            }
            if (const std::string why = load(); !why.empty()) {
                log("kde window probe: " + why);
            }
        });
    }
};

std::unique_ptr<KWinWindowProbe> KWinWindowProbe::make(const QString& busName,
                                                       QDBusConnection bus) {
    if (!bus.isConnected() || !bus.interface()) {
        log("kde window probe: no session bus");
        return nullptr;
    }
    if (!ActiveWindowScript::isValidBusName(busName) ||
        bus.interface()->serviceOwner(busName).value() != bus.baseService()) {
        log("kde window probe: the connection does not own the name " + busName.toStdString());
        return nullptr;
    }
    const QString owner = bus.interface()->serviceOwner(kwinService).value();
    if (owner.isEmpty()) {
        log("kde window probe: kwin is not on the session bus");
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(bus, busName);
    impl->kwinOwner = owner;
    if (!impl->writeScript()) {
        return nullptr;
    }
    if (!bus.registerVirtualObject(QString::fromLatin1(ActiveWindowScript::objectPath),
                                   &impl->object)) {
        log("kde window probe: the active window object is taken on this connection");
        return nullptr;
    }
    if (const std::string why = impl->load(); !why.empty()) {
        log("kde window probe: " + why);
        bus.unregisterObject(QString::fromLatin1(ActiveWindowScript::objectPath));
        return nullptr;
    }
    impl->watcher.setConnection(bus);
    impl->watcher.addWatchedService(kwinService);
    impl->watcher.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    Impl* self = impl.get();
    QObject::connect(&impl->watcher, &QDBusServiceWatcher::serviceOwnerChanged, &impl->watcher,
                     [self](const QString&, const QString&, const QString& newOwner) {
                         self->ownerChanged(newOwner);
                     });
    return std::unique_ptr<KWinWindowProbe>(new KWinWindowProbe(std::move(impl)));
}

KWinWindowProbe::KWinWindowProbe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

KWinWindowProbe::~KWinWindowProbe() {
    impl_->bus.unregisterObject(QString::fromLatin1(ActiveWindowScript::objectPath));
    impl_->unload();
}

bool KWinWindowProbe::isAvailable() const {
    return impl_->running && !impl_->kwinOwner.isEmpty();
}

std::optional<FrontWindow> KWinWindowProbe::frontmost() {
    if (!impl_->current) {
        return std::nullopt;
    }
    const Report& report = *impl_->current;
    FrontWindow front;
    front.id = impl_->id;
    front.windowClass = report.resourceClass.toStdString();
    front.pid = report.pid;
    DesktopEntries::Program program;
    program.instance = report.resourceName.toStdString();
    program.className = front.windowClass;
    if (report.pid) {
        program.executable = DesktopEntries::executableOf(*report.pid);
    }
    front.appName = DesktopEntries::nameOr(program, front.windowClass);
    return front;
}

std::optional<std::string> KWinWindowProbe::title(const FrontWindow& window) {
    if (!impl_->current || window.id != impl_->id || impl_->current->caption.isEmpty()) {
        return std::nullopt;
    }
    return impl_->current->caption.toStdString();
}
