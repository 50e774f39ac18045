#include "desktop/portal/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

// One request in flight: listens for its Response, and ends itself after the first outcome.
class PortalPendingRequest : public QObject {
    Q_OBJECT
  public:
    PortalPendingRequest(QDBusConnection bus, QObject* context,
                         std::function<void(PortalResponse)> done)
        : QObject(context), bus_(std::move(bus)), done_(std::move(done)) {
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, [this] {
            closeRequest();
            finish({PortalResponse::Kind::failed,
                    {},
                    "no answer from the portal in " + std::to_string(timer_.interval() / 1000) +
                        " s"});
        });
    }

    void listen(const QString& handle) {
        if (handle == handle_) {
            return;
        }
        if (!handle_.isEmpty()) {
            bus_.disconnect(Portal::service, handle_, requestInterface, QStringLiteral("Response"),
                            this, SLOT(onResponse(uint, QVariantMap)));
        }
        handle_ = handle;
        bus_.connect(Portal::service, handle_, requestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    }

    void send(const QDBusMessage& call, std::chrono::milliseconds timeout) {
        timer_.start(static_cast<int>(timeout.count()));
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            watcher->deleteLater();
            if (!done_) {
                return;
            }
            const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
            if (reply.isError()) {
                finish({PortalResponse::Kind::failed,
                        {},
                        Portal::errorText(reply.error().name(), reply.error().message())});
                return;
            }
            // Portals before 0.9 made up their own path; follow it (an answer there before
            // now would be lost, which those portals never sent so soon).
            listen(reply.value().path());
        });
    }

  public slots:
    void onResponse(uint response, const QVariantMap& results) {
        switch (response) {
        case 0:
            finish({PortalResponse::Kind::granted, results, {}});
            return;
        case 1:
            finish({PortalResponse::Kind::cancelled, results, "the user cancelled"});
            return;
        default:
            finish({PortalResponse::Kind::failed, results,
                    "the portal ended the request (" + std::to_string(response) + ")"});
            return;
        }
    }

  private:
    void closeRequest() {
        bus_.send(QDBusMessage::createMethodCall(Portal::service, handle_, requestInterface,
                                                 QStringLiteral("Close")));
    }

    void finish(PortalResponse response) {
        if (!done_) {
            return;
        }
        timer_.stop();
        bus_.disconnect(Portal::service, handle_, requestInterface, QStringLiteral("Response"),
                        this, SLOT(onResponse(uint, QVariantMap)));
        auto done = std::move(done_);
        done_ = nullptr;
        deleteLater();
        done(std::move(response));
    }

    QDBusConnection bus_;
    std::function<void(PortalResponse)> done_;
    QString handle_;
    QTimer timer_;
};

void PortalSignalReceiver::listen(QDBusConnection bus, const QString& path,
                                  const QString& interface, const QString& name, bool on) {
    if (on) {
        bus.connect(Portal::service, path, interface, name, this, SLOT(onSignal(QDBusMessage)));
    } else {
        bus.disconnect(Portal::service, path, interface, name, this, SLOT(onSignal(QDBusMessage)));
    }
}

namespace Portal {

QString token() {
    static unsigned counter = 0;
    return QStringLiteral("parlwick%1_%2")
        .arg(++counter)
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

QString handlePath(const QDBusConnection& bus, const QString& kind, const QString& token) {
    QString sender = bus.baseService();
    sender.remove(0, sender.startsWith(QLatin1Char(':')) ? 1 : 0);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return path + QLatin1Char('/') + kind + QLatin1Char('/') + sender + QLatin1Char('/') + token;
}

void request(QDBusConnection bus, const QString& interface, const QString& method,
             const QVariantList& arguments, QVariantMap options, std::chrono::milliseconds timeout,
             QObject* context, std::function<void(PortalResponse)> done) {
    const QString handleToken = token();
    options.insert(QStringLiteral("handle_token"), handleToken);
    auto* pending = new PortalPendingRequest(bus, context, std::move(done));
    pending->listen(handlePath(bus, QStringLiteral("request"), handleToken));
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments + QVariantList{options});
    pending->send(call, timeout);
}

unsigned version(QDBusConnection bus, const QString& interface, std::string* why,
                 std::chrono::milliseconds timeout) {
    const auto say = [why](std::string text) {
        if (why) {
            *why = std::move(text);
        }
        return 0U;
    };
    if (!bus.isConnected()) {
        return say("no session bus");
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, propertiesInterface, QStringLiteral("Get"));
    call << interface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(call, QDBus::Block, static_cast<int>(timeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return say("the desktop portal offers no " + interface.toStdString() + ": " +
                   errorText(reply.errorName(), reply.errorMessage()));
    }
    const QVariant value = reply.arguments().isEmpty()
                               ? QVariant()
                               : reply.arguments().front().value<QDBusVariant>().variant();
    bool isNumber = false;
    const unsigned number = value.toUInt(&isNumber);
    if (!isNumber || number == 0) {
        return say("the desktop portal offers no " + interface.toStdString());
    }
    return number;
}

QString pathOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.toString();
}

void closeSession(QDBusConnection bus, const QString& session) {
    bus.send(QDBusMessage::createMethodCall(service, session, sessionInterface,
                                            QStringLiteral("Close")));
}

std::string errorText(const QString& name, const QString& message) {
    QString text = message.isEmpty() ? name : message;
    text = text.section(QLatin1Char('\n'), 0, 0).left(200).toLower();
    return text.isEmpty() ? std::string("no reply") : text.toStdString();
}

} // namespace Portal

#include "PortalRequest.moc"
