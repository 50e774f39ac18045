#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <string>

// How a portal request ended: the user or the desktop answered (`response` 0 granted, 1
// cancelled, 2 ended otherwise), or the call failed or timed out before any answer.
struct PortalResponse {
    enum class Kind { granted, cancelled, failed };

    Kind kind = Kind::failed;
    QVariantMap results;
    // Lower-case, for the log.
    std::string reason;

    bool isGranted() const { return kind == Kind::granted; }
};

// Hands the portal's signals to a function: QtDBus delivers signals to slots only.
class PortalSignalReceiver : public QObject {
    Q_OBJECT
  public:
    explicit PortalSignalReceiver(std::function<void(const QDBusMessage&)> handle)
        : handle_(std::move(handle)) {}

    // Starts or stops listening for `name` of `interface` at `path` from the portal.
    void listen(QDBusConnection bus, const QString& path, const QString& interface,
                const QString& name, bool on = true);

  public slots:
    void onSignal(const QDBusMessage& message) { handle_(message); }

  private:
    std::function<void(const QDBusMessage&)> handle_;
};

// The pieces every xdg-desktop-portal client here shares. Main thread only.
namespace Portal {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// A fresh token for handle_token and session_handle_token: unique in this process, and
// unguessable enough that another client cannot take our request path first.
QString token();

// The object path the portal gives a request or session made with `token` by this connection.
QString handlePath(const QDBusConnection& bus, const QString& kind, const QString& token);

// Calls `method` of the portal `interface` with `arguments`, then `options` with a handle_token
// added, and calls `done` once with the request's Response, the call's error, or a time-out
// after `timeout` (the request is then closed, so a dialog it opened goes away). The Response
// is listened for before the call goes out, so a quick answer cannot be missed. Never blocks;
// `done` runs on the main loop, and not at all once `context` is gone.
void request(QDBusConnection bus, const QString& interface, const QString& method,
             const QVariantList& arguments, QVariantMap options, std::chrono::milliseconds timeout,
             QObject* context, std::function<void(PortalResponse)> done);

// The version of `interface` the portal offers, read from its "version" property; 0 when the
// portal is not there or offers no such interface, `why` then saying why (lower-case). Blocks
// for `timeout` at most: a property read, never a dialog.
unsigned version(QDBusConnection bus, const QString& interface, std::string* why,
                 std::chrono::milliseconds timeout = std::chrono::seconds(3));

// A session handle: a string from some portals, an object path from others.
QString pathOf(const QVariant& value);

// Ends the session at `session`, without waiting for the answer.
void closeSession(QDBusConnection bus, const QString& session);

// The start of a D-Bus error for the log: its message, lower-case, at most a line.
std::string errorText(const QString& name, const QString& message);

} // namespace Portal
