#include "desktop/portal/PortalKeyboard.h"

#include "Files.h"
#include "desktop/TypedKeysyms.h"
#include "desktop/portal/PortalRequest.h"
#include "platform/Log.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <optional>
#include <vector>
#include <xkbcommon/xkbcommon.h>

namespace {

const QString remoteInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");

constexpr unsigned keyboardDevice = 1;
// The portal keeps the grant until the user revokes it.
constexpr unsigned persistUntilRevoked = 2;
constexpr std::chrono::seconds quickTimeout{30};
// Start shows the desktop's dialog, which may wait on the user.
constexpr std::chrono::minutes startTimeout{5};
// A key the portal has not taken by then is not coming.
constexpr int keyTimeoutMs = 5000;

// A token the portal made: a UUID today. Anything else in the file was not written by us.
bool looksLikeToken(const std::string& token) {
    return !token.empty() && token.size() <= 128 &&
           std::all_of(token.begin(), token.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      c == '-' || c == '_';
           });
}

} // namespace

struct PortalKeyboard::Impl {
    enum class State { idle, starting, started, failed };

    QDBusConnection bus;
    std::filesystem::path tokenFile;
    State state = State::idle;
    std::string why;
    QString session;
    QObject context;
    PortalSignalReceiver closed{[this](const QDBusMessage&) {
        fail("the desktop closed the remote desktop session");
        watchClosed(false);
        session.clear();
    }};
    // Keysyms pressed and not yet released, in order.
    std::vector<std::uint32_t> pressed;

    struct Typing {
        std::vector<std::uint32_t> syms;
        std::size_t next = 0;
        std::deque<std::uint32_t> recent;
        std::function<void(SynthesisResult)> done;
    };
    std::shared_ptr<Typing> typing;
    // Key events go out one at a time, each after the portal answered the one before: the
    // frontend handles calls on several threads, and a release that overtook its press
    // would leave the key down.
    std::deque<std::pair<std::uint32_t, bool>> queue;
    std::optional<QDBusPendingCall> inFlight;

    Impl(QDBusConnection connection, std::filesystem::path file)
        : bus(std::move(connection)), tokenFile(std::move(file)) {}

    ~Impl() {
        queue.clear();
        if (inFlight) {
            inFlight->waitForFinished();
        }
        // Answered before the session closes, so no release can come after the end.
        releaseAll(true);
        if (!session.isEmpty()) {
            Portal::closeSession(bus, session);
        }
    }

    std::string storedToken() {
        if (tokenFile.empty()) {
            return {};
        }
        try {
            std::string token = Files::readIfPresent(tokenFile).value_or("");
            while (!token.empty() && (token.back() == '\n' || token.back() == ' ')) {
                token.pop_back();
            }
            if (!token.empty() && !looksLikeToken(token)) {
                log("remote desktop: ignoring a malformed restore token file");
                return {};
            }
            return token;
        } catch (const FileError& error) {
            log("remote desktop: couldn't read the restore token: " + error.description());
            return {};
        }
    }

    void keepToken(const std::string& token, const std::string& previous) {
        if (tokenFile.empty() || token == previous || !looksLikeToken(token)) {
            return;
        }
        try {
            Files::replaceAtomically(tokenFile, token + "\n", 0600);
        } catch (const FileError& error) {
            log("remote desktop: couldn't keep the restore token: " + error.description());
        }
    }

    void start() {
        if (state != State::idle) {
            return;
        }
        state = State::starting;
        const QString sessionToken = Portal::token();
        session = Portal::handlePath(bus, QStringLiteral("session"), sessionToken);
        watchClosed(true);
        Portal::request(bus, remoteInterface, QStringLiteral("CreateSession"), {},
                        {{QStringLiteral("session_handle_token"), sessionToken}}, quickTimeout,
                        &context, [this](const PortalResponse& response) {
                            if (!response.isGranted()) {
                                fail("no remote desktop session: " + response.reason);
                                return;
                            }
                            const QString path = Portal::pathOf(
                                response.results.value(QStringLiteral("session_handle")));
                            if (!path.isEmpty() && path != session) {
                                watchClosed(false);
                                session = path;
                                watchClosed(true);
                            }
                            selectDevices();
                        });
    }

    void watchClosed(bool on) {
        closed.listen(bus, session, Portal::sessionInterface, QStringLiteral("Closed"), on);
    }

    void selectDevices() {
        // Portals before restore tokens ignore both.
        QVariantMap options{{QStringLiteral("types"), keyboardDevice},
                            {QStringLiteral("persist_mode"), persistUntilRevoked}};
        const std::string token = storedToken();
        if (!token.empty()) {
            options.insert(QStringLiteral("restore_token"), QString::fromStdString(token));
        }
        Portal::request(bus, remoteInterface, QStringLiteral("SelectDevices"),
                        {QVariant::fromValue(QDBusObjectPath(session))}, options, quickTimeout,
                        &context, [this, token](const PortalResponse& response) {
                            if (!response.isGranted()) {
                                fail("the keyboard was not granted: " + response.reason);
                                return;
                            }
                            startSession(token);
                        });
    }

    void startSession(const std::string& token) {
        Portal::request(bus, remoteInterface, QStringLiteral("Start"),
                        {QVariant::fromValue(QDBusObjectPath(session)), QString()}, {},
                        startTimeout, &context, [this, token](const PortalResponse& response) {
                            if (!response.isGranted()) {
                                fail("the remote desktop session was refused: " + response.reason);
                                return;
                            }
                            const unsigned devices =
                                response.results.value(QStringLiteral("devices")).toUInt();
                            if (!(devices & keyboardDevice)) {
                                fail("the desktop shared no keyboard");
                                return;
                            }
                            keepToken(response.results.value(QStringLiteral("restore_token"))
                                          .toString()
                                          .toStdString(),
                                      token);
                            state = State::started;
                            log("remote desktop: keyboard session started");
                        });
    }

    void fail(std::string reason) {
        if (state == State::failed) {
            return;
        }
        state = State::failed;
        why = std::move(reason);
        log("remote desktop unavailable: " + why);
        queue.clear();
        if (!inFlight) {
            releaseAll();
        }
        if (typing) {
            auto job = std::move(typing);
            job->done(SynthesisResult::failed(why));
        }
    }

    // Whether keys can go out now; the answer for the caller when not.
    std::optional<SynthesisResult> notReady() {
        switch (state) {
        case State::idle:
            start();
            return state == State::failed
                       ? SynthesisResult::failed(why)
                       : SynthesisResult::retry("the remote desktop session is starting");
        case State::starting:
            return SynthesisResult::retry("the remote desktop session is starting");
        case State::failed:
            return SynthesisResult::failed(why);
        case State::started:
            break;
        }
        if (typing) {
            return SynthesisResult::retry("typing is in progress");
        }
        return std::nullopt;
    }

    QDBusMessage keysymCall(std::uint32_t sym, bool press) const {
        QDBusMessage call = QDBusMessage::createMethodCall(
            Portal::service, Portal::path, remoteInterface, QStringLiteral("NotifyKeyboardKeysym"));
        call << QVariant::fromValue(QDBusObjectPath(session)) << QVariantMap()
             << static_cast<int>(sym) << static_cast<unsigned>(press ? 1 : 0);
        return call;
    }

    void key(std::uint32_t sym, bool press) {
        queue.emplace_back(sym, press);
        pump();
    }

    void pump() {
        if (inFlight || queue.empty() || state != State::started) {
            return;
        }
        const auto [sym, press] = queue.front();
        queue.pop_front();
        if (press) {
            pressed.push_back(sym);
        } else if (const auto at = std::find(pressed.begin(), pressed.end(), sym);
                   at != pressed.end()) {
            pressed.erase(at);
        }
        inFlight = bus.asyncCall(keysymCall(sym, press), keyTimeoutMs);
        auto* watcher = new QDBusPendingCallWatcher(*inFlight, &context);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context, [this, watcher] {
            watcher->deleteLater();
            inFlight.reset();
            if (state == State::failed) {
                releaseAll();
                return;
            }
            if (watcher->isError()) {
                const QDBusError error = watcher->error();
                fail("the portal refused a key: " +
                     Portal::errorText(error.name(), error.message()));
                return;
            }
            pump();
            finishTypingIfDone();
        });
    }

    // Releases, newest first, whatever is still down; a key left down would repeat forever.
    // `wait`: each release is answered before the next goes (the order among releases does
    // not matter otherwise).
    void releaseAll(bool wait = false) {
        if (session.isEmpty()) {
            pressed.clear();
            return;
        }
        while (!pressed.empty()) {
            const std::uint32_t sym = pressed.back();
            pressed.pop_back();
            const QDBusMessage call = keysymCall(sym, false);
            if (wait) {
                bus.call(call, QDBus::Block, keyTimeoutMs / 5);
            } else {
                bus.send(call);
            }
        }
    }

    SynthesisResult chord(PasteChord chord) {
        if (auto answer = notReady()) {
            return *answer;
        }
        key(XKB_KEY_Control_L, true);
        if (chord == PasteChord::ctrlShiftV) {
            key(XKB_KEY_Shift_L, true);
        }
        key(XKB_KEY_v, true);
        key(XKB_KEY_v, false);
        if (chord == PasteChord::ctrlShiftV) {
            key(XKB_KEY_Shift_L, false);
        }
        key(XKB_KEY_Control_L, false);
        return SynthesisResult::ok();
    }

    SynthesisResult startTyping(const std::string& text,
                                std::function<void(SynthesisResult)> done) {
        if (auto answer = notReady()) {
            return *answer;
        }
        typing = std::make_shared<Typing>();
        typing->syms = TypedKeysyms::forText(text);
        typing->done = std::move(done);
        QTimer::singleShot(0, &context, [this, job = typing] { typeStep(job); });
        return SynthesisResult::ok();
    }

    void typeStep(const std::shared_ptr<Typing>& job) {
        if (job != typing) {
            return;
        }
        bool freshSent = false;
        for (; job->next < job->syms.size(); ++job->next) {
            const std::uint32_t sym = job->syms[job->next];
            const bool fresh =
                std::find(job->recent.begin(), job->recent.end(), sym) == job->recent.end();
            if (fresh) {
                if (freshSent) {
                    break;
                }
                freshSent = true;
                job->recent.push_back(sym);
                if (job->recent.size() > static_cast<std::size_t>(maxKeysyms)) {
                    job->recent.pop_front();
                }
            }
            key(sym, true);
            key(sym, false);
        }
        if (job->next < job->syms.size()) {
            QTimer::singleShot(settleMs, Qt::PreciseTimer, &context,
                               [this, job] { typeStep(job); });
            return;
        }
        finishTypingIfDone();
    }

    void finishTypingIfDone() {
        if (!typing || typing->next < typing->syms.size() || !queue.empty() || inFlight) {
            return;
        }
        auto job = std::move(typing);
        job->done(SynthesisResult::ok());
    }
};

PortalKeyboard::PortalKeyboard(std::filesystem::path tokenFile, QDBusConnection bus)
    : impl_(std::make_unique<Impl>(bus, std::move(tokenFile))) {
    std::string why;
    if (!isOffered(&why, bus)) {
        impl_->state = Impl::State::failed;
        impl_->why = why;
    }
}

PortalKeyboard::~PortalKeyboard() = default;

bool PortalKeyboard::isOffered(std::string* why, QDBusConnection bus) {
    return Portal::version(std::move(bus), remoteInterface, why) > 0;
}

void PortalKeyboard::start() {
    impl_->start();
}

bool PortalKeyboard::isStarted() const {
    return impl_->state == Impl::State::started;
}

bool PortalKeyboard::isAvailable() const {
    return impl_->state != Impl::State::failed;
}

std::string PortalKeyboard::unavailableReason() const {
    return impl_->why;
}

SynthesisResult PortalKeyboard::sendPasteChord(PasteChord chord) {
    return impl_->chord(chord);
}

SynthesisResult PortalKeyboard::type(const std::string& text,
                                     std::function<void(SynthesisResult)> done) {
    return impl_->startTyping(text, std::move(done));
}
