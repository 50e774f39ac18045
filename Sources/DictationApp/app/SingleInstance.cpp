#include "app/SingleInstance.h"

#include "platform/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QLatin1String>

namespace {

// A later launch waits this long for the running copy to answer.
constexpr int answerMilliseconds = 5000;

} // namespace

// What the bus calls: only the method marked scriptable is exported.
class SingleInstanceReceiver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.parlwick.Parlwick")
  public:
    explicit SingleInstanceReceiver(SingleInstance& owner) : QObject(&owner), owner_(owner) {}

  public slots:
    Q_SCRIPTABLE void Reopen() { owner_.onReopen(); }

  private:
    SingleInstance& owner_;
};

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)), receiver_(new SingleInstanceReceiver(*this)) {}

SingleInstance::~SingleInstance() {
    if (owns_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QString::fromLatin1(objectPath));
        bus.unregisterService(name_);
    }
}

SingleInstance::Claim SingleInstance::claim(bool reopen) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        log("single instance: no session bus, running alone: " +
            bus.lastError().message().toLower().toStdString());
        return Claim::alone;
    }
    const QString path = QString::fromLatin1(objectPath);
    // The object first, so a launch that sees the name taken finds it answering.
    bus.registerObject(path, receiver_, QDBusConnection::ExportScriptableSlots);
    // Twice at most: the copy holding the name may end between our try and our call.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto taken =
            bus.interface()->registerService(name_, QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        if (!taken.isValid()) {
            bus.unregisterObject(path);
            log("single instance: the session bus refused the name, running alone: " +
                taken.error().message().toLower().toStdString());
            return Claim::alone;
        }
        if (taken.value() == QDBusConnectionInterface::ServiceRegistered) {
            owns_ = true;
            return Claim::first;
        }
        if (!reopen) {
            break;
        }
        const QDBusMessage answer =
            bus.call(QDBusMessage::createMethodCall(name_, path, QString::fromLatin1(interfaceName),
                                                    QStringLiteral("Reopen")),
                     QDBus::Block, answerMilliseconds);
        if (answer.type() != QDBusMessage::ErrorMessage) {
            break;
        }
        const QString error = answer.errorName();
        if (error != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") &&
            error != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
            log("single instance: the running copy did not answer: " +
                answer.errorMessage().toLower().toStdString());
            break;
        }
    }
    bus.unregisterObject(path);
    return Claim::handedOver;
}

#include "SingleInstance.moc"
