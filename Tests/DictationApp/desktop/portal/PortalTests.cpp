// The portal clients against the real xdg-desktop-portal frontend on a private session bus,
// with a desktop's half of our own behind it (Tests/Support/portal-test-backend.py).
#include "BackgroundProcess.h"
#include "DesktopSupport.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "desktop/portal/PortalKeyboard.h"
#include "desktop/portal/PortalShortcutListener.h"
#include "desktop/wayland/RecordKeyCommands.h"
#include "desktop/wayland/WaylandDesktop.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

namespace {

const char* const frontend = "/usr/libexec/xdg-desktop-portal";
const QString backendName = QStringLiteral("org.freedesktop.impl.portal.desktop.mock");

// Portal round trips pass through the frontend's threads: they get longer than the default.
bool waitUntil(const std::function<bool()>& done, double seconds = 10) {
    return DesktopSupport::waitUntil(done, seconds);
}

bool nameIsOwned(const QString& name) {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

class PortalTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* missing = std::getenv("PARLWICK_DESKTOP_MISSING")) {
            GTEST_SKIP() << "no private session bus: " << missing;
        }
        if (::access(frontend, X_OK) != 0) {
            GTEST_SKIP() << "the xdg-desktop-portal frontend is not installed (" << frontend << ")";
        }
    }

    // Our backend with `arguments`, then the frontend pointed at it; without the backend, a
    // frontend that knows of no desktop's half at all.
    void startPortal(std::vector<std::string> arguments, bool withBackend = true) {
        std::filesystem::create_directories(folder / "portals");
        if (withBackend) {
            writeAll(folder / "portals" / "mock.portal",
                     "[portal]\nDBusName=org.freedesktop.impl.portal.desktop.mock\n"
                     "Interfaces=org.freedesktop.impl.portal.GlobalShortcuts;"
                     "org.freedesktop.impl.portal.RemoteDesktop;\nUseIn=mock\n");
            arguments.insert(arguments.begin(), {PORTAL_BACKEND, calls().string()});
            backend_ = std::make_unique<BackgroundProcess>(
                arguments, std::vector<std::pair<std::string, std::string>>{},
                (folder / "backend.log").string());
            ASSERT_TRUE(waitUntil([] { return nameIsOwned(backendName); }))
                << readAll(folder / "backend.log");
        }
        frontend_ = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{frontend},
            std::vector<std::pair<std::string, std::string>>{
                {"XDG_DESKTOP_PORTAL_DIR", (folder / "portals").string()},
                {"XDG_CURRENT_DESKTOP", "mock"}},
            (folder / "frontend.log").string());
        ASSERT_TRUE(waitUntil([] {
            return nameIsOwned(QStringLiteral("org.freedesktop.portal.Desktop"));
        })) << readAll(folder / "frontend.log");
    }

    std::filesystem::path calls() const { return folder / "calls.jsonl"; }

    // The calls named `name` the backend received, in order.
    std::vector<QJsonObject> callsNamed(const QString& name) const {
        std::vector<QJsonObject> found;
        std::istringstream lines(readAll(calls()));
        for (std::string line; std::getline(lines, line);) {
            const QJsonObject call =
                QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (call.value(QStringLiteral("call")).toString() == name) {
                found.push_back(call);
            }
        }
        return found;
    }

    // The keysyms the desktop received from the `first` on: (keysym, 1 pressed or 0 released).
    std::vector<std::pair<int, int>> keys(std::size_t first = 0) const {
        std::vector<std::pair<int, int>> found;
        const auto sent = callsNamed(QStringLiteral("NotifyKeyboardKeysym"));
        for (std::size_t i = first; i < sent.size(); ++i) {
            found.emplace_back(sent[i].value(QStringLiteral("keysym")).toInt(),
                               sent[i].value(QStringLiteral("state")).toInt());
        }
        return found;
    }

    static void control(const QString& method, const QVariantList& arguments = {}) {
        auto call = QDBusMessage::createMethodCall(
            backendName, QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.parlwick.Test"), method);
        call.setArguments(arguments);
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    // A keyboard whose session the desktop has started.
    std::unique_ptr<PortalKeyboard> startedKeyboard() {
        auto keyboard = std::make_unique<PortalKeyboard>(folder / "state" / "portal-token");
        keyboard->start();
        EXPECT_TRUE(waitUntil([&] { return keyboard->isStarted() || !keyboard->isAvailable(); }))
            << "the session did not start";
        EXPECT_TRUE(keyboard->isStarted()) << keyboard->unavailableReason();
        return keyboard;
    }

    // Each key pressed, then released.
    static std::vector<std::pair<int, int>> strokes(const std::vector<int>& syms) {
        std::vector<std::pair<int, int>> events;
        for (int sym : syms) {
            events.insert(events.end(), {{sym, 1}, {sym, 0}});
        }
        return events;
    }

    TempDir folder;
    std::unique_ptr<BackgroundProcess> backend_;
    std::unique_ptr<BackgroundProcess> frontend_;
};

// A listener started on the portal, its events collected.
struct Listening {
    explicit Listening(HotKey key) : listener(key) {
        listener.start([this](const KeyEvent& event) { events.push_back(event.kind); });
    }
    bool waitBound() {
        return waitUntil([&] { return listener.isBound() || !listener.isAvailable(); }) &&
               listener.isBound();
    }
    PortalShortcutListener listener;
    std::vector<KeyEvent::Kind> events;
};

using Kind = KeyEvent::Kind;

TEST_F(PortalTest, PressAndReleaseOfTheBoundShortcutDriveTheRecordKeyAndRepeatsAreIgnored) {
    ASSERT_NO_FATAL_FAILURE(startPortal({}));
    ASSERT_TRUE(PortalShortcutListener::isOffered());
    Listening listening(HotKey::rightOption);
    ASSERT_TRUE(listening.listener.isAvailable()) << listening.listener.unavailableReason();
    ASSERT_TRUE(listening.waitBound()) << listening.listener.unavailableReason();

    const auto bind = callsNamed(QStringLiteral("BindShortcuts"));
    ASSERT_EQ(bind.size(), 1U);
    EXPECT_EQ(QJsonDocument(bind.front().value(QStringLiteral("shortcuts")).toArray())
                  .toJson(QJsonDocument::Compact)
                  .toStdString(),
              R"([["record",{"description":"Hold to dictate","preferred_trigger":"Alt_R"}]])");
    EXPECT_EQ(listening.listener.trigger(), "Alt_R");

    // Desktops repeat Activated while the keys stay down.
    for (const char* method : {"Activate", "Activate", "Deactivate", "Deactivate", "Activate",
                               "Activate", "Deactivate"}) {
        control(QString::fromLatin1(method), {QStringLiteral("record")});
    }
    // A shortcut of someone else's on the same portal is none of ours.
    control(QStringLiteral("Activate"), {QStringLiteral("other")});
    EXPECT_TRUE(waitUntil([&] { return listening.events.size() >= 4; }));
    control(QStringLiteral("Deactivate"), {QStringLiteral("other")});
    waitUntil([] { return false; }, 0.3);
    EXPECT_EQ(listening.events, (std::vector<Kind>{Kind::recordKeyDown, Kind::recordKeyUp,
                                                   Kind::recordKeyDown, Kind::recordKeyUp}));
    EXPECT_TRUE(listening.listener.isAvailable());
}

TEST_F(PortalTest, TheTriggerInEffectIsWhatTheDesktopBound) {
    ASSERT_NO_FATAL_FAILURE(startPortal({}));
    struct Row {
        HotKey key;
        const char* desktopBinds;
        const char* trigger;
        bool bound;
    };
    const Row rows[] = {
        {HotKey::rightControl, "preferred", "Control_R", true},
        // A lone modifier the desktop cannot bind: it picks another trigger.
        {HotKey::rightOption, "Ctrl+Alt+D", "Ctrl+Alt+D", true},
        // Nothing bound yet: the user may bind it in the desktop's settings later.
        {HotKey::rightCommand, "none", "Super_R", false},
        {HotKey::fn, "preferred", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.desktopBinds);
        control(QStringLiteral("SetTrigger"), {QString::fromLatin1(row.desktopBinds)});
        Listening listening(row.key);
        std::vector<std::string> changes;
        listening.listener.onTriggerChanged(
            [&](const std::string& now) { changes.push_back(now); });
        EXPECT_EQ(listening.listener.trigger(), PortalShortcutListener::preferredTrigger(row.key));
        const auto before = callsNamed(QStringLiteral("BindShortcuts")).size();
        EXPECT_TRUE(waitUntil([&] {
            return callsNamed(QStringLiteral("BindShortcuts")).size() > before &&
                   (listening.listener.isBound() == row.bound);
        }));
        waitUntil([] { return false; }, 0.2);
        EXPECT_EQ(listening.listener.isBound(), row.bound);
        EXPECT_EQ(listening.listener.trigger(), row.trigger);
        EXPECT_TRUE(listening.listener.isAvailable()) << listening.listener.unavailableReason();
        const bool changed =
            std::string(row.trigger) != PortalShortcutListener::preferredTrigger(row.key);
        EXPECT_EQ(changes,
                  changed ? std::vector<std::string>{row.trigger} : std::vector<std::string>{});
    }
}

TEST_F(PortalTest, AClosedSessionStopsTheRecordingAndLeavesTheListenerUnavailable) {
    ASSERT_NO_FATAL_FAILURE(startPortal({}));
    LogCapture log;
    Listening listening(HotKey::rightOption);
    ASSERT_TRUE(listening.waitBound()) << listening.listener.unavailableReason();
    control(QStringLiteral("Activate"), {QStringLiteral("record")});
    ASSERT_TRUE(waitUntil([&] { return listening.events.size() == 1; }));

    control(QStringLiteral("CloseSessions"));
    EXPECT_TRUE(waitUntil([&] { return !listening.listener.isAvailable(); }));
    EXPECT_EQ(listening.events, (std::vector<Kind>{Kind::recordKeyDown, Kind::recordKeyUp}));
    EXPECT_EQ(listening.listener.unavailableReason(), "the desktop closed the shortcut session");
    EXPECT_TRUE(
        log.contains("global shortcut unavailable: the desktop closed the shortcut session"));
}

// Any program of the user's may call the bus commands: offered beside a shortcut, they would
// let it start and stop recordings. One portal per bus, so a case each.
class BusCommandsTest : public PortalTest, public testing::WithParamInterface<bool> {};

TEST_P(BusCommandsTest, AreOfferedOnlyWhereNoShortcutGivesTheRecordKey) {
    const bool withShortcuts = GetParam();
    ASSERT_NO_FATAL_FAILURE(startPortal({}, withShortcuts));
    const auto keys = WaylandDesktop::makeKeyListener(
        {"org.parlwick.Test", HotKey::rightOption, false, folder / "portal-token"});
    const bool offered = QDBusConnection::sessionBus().objectRegisteredAt(
                             QString::fromLatin1(RecordKeyCommands::objectPath)) != nullptr;
    EXPECT_EQ(offered, !withShortcuts);
    EXPECT_EQ(nameIsOwned(QStringLiteral("org.parlwick.Test")), !withShortcuts);
}

INSTANTIATE_TEST_SUITE_P(Portals, BusCommandsTest, testing::Bool(), [](const auto& info) {
    return info.param ? "WithShortcuts" : "WithoutShortcuts";
});

TEST_F(PortalTest, APortalWithoutTheseInterfacesIsReportedUnavailable) {
    ASSERT_NO_FATAL_FAILURE(startPortal({}, false));
    std::string why;
    EXPECT_FALSE(PortalShortcutListener::isOffered(&why));
    EXPECT_NE(why.find("offers no org.freedesktop.portal.GlobalShortcuts"), std::string::npos)
        << why;

    PortalShortcutListener listener(HotKey::rightOption);
    EXPECT_FALSE(listener.isAvailable());
    EXPECT_EQ(listener.unavailableReason(), why);
    bool called = false;
    listener.start([&](const KeyEvent&) { called = true; });

    PortalKeyboard keyboard(folder / "token");
    EXPECT_FALSE(keyboard.isAvailable());
    EXPECT_NE(keyboard.unavailableReason().find("offers no org.freedesktop.portal.RemoteDesktop"),
              std::string::npos)
        << keyboard.unavailableReason();
    EXPECT_EQ(keyboard.sendPasteChord(PasteChord::ctrlV).kind, SynthesisResult::Kind::failed);
    EXPECT_EQ(keyboard.type("a", [](SynthesisResult) { ADD_FAILURE() << "done called"; }).kind,
              SynthesisResult::Kind::failed);
    waitUntil([] { return false; }, 0.2);
    EXPECT_FALSE(called);
}

TEST_F(PortalTest, TypedTextArrivesAsKeysymsInOrderWithEveryKeyReleased) {
    ASSERT_NO_FATAL_FAILURE(startPortal({}));
    auto keyboard = startedKeyboard();
    ASSERT_TRUE(keyboard->isStarted());
    struct Row {
        std::string text;
        std::vector<int> syms;
    };
    const std::vector<Row> rows = {
        {"naïve café – 日本 🎤",
         {0x6e, 0x61, 0xef, 0x76, 0x65, 0x20, 0x63, 0x61, 0x66, 0xe9, 0x20, 0xaaa /* endash */,
          0x20, 0x10065e5, 0x100672c, 0x20, 0x101f3a4}},
        // Lines and tabs are keys; other control characters never become Escape or Delete.
        {"a\n\tb\x1b\x7f"
         "c",
         {0x61, 0xff0d, 0xff09, 0x62, 0x63}},
        {"", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const auto before = keys().size();
        std::optional<SynthesisResult> outcome;
        EXPECT_EQ(keyboard->type(row.text, [&](SynthesisResult result) { outcome = result; }),
                  SynthesisResult::ok());
        // One typing at a time.
        EXPECT_EQ(keyboard->type("x", [](SynthesisResult) {}).kind, SynthesisResult::Kind::retry);
        ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        EXPECT_EQ(*outcome, SynthesisResult::ok());
        const auto expected = strokes(row.syms);
        EXPECT_TRUE(waitUntil([&] { return keys().size() >= before + expected.size(); }));
        waitUntil([] { return false; }, 0.2);
        EXPECT_EQ(keys(before), expected);
    }
}

TEST_F(PortalTest, AKeyboardGoneMidTypingLeavesNoKeyDownAndClosesItsSession) {
    ASSERT_NO_FATAL_FAILURE(startPortal({}));
    auto keyboard = startedKeyboard();
    ASSERT_TRUE(keyboard->isStarted());
    // Characters the typing has not sent yet, each a pause for the keymap.
    std::string text;
    for (char32_t c = U'\u4e00'; c < U'\u4e00' + 200; ++c) {
        text += QString::fromUcs4(&c, 1).toStdString();
    }
    EXPECT_EQ(keyboard->type(text, [](SynthesisResult) {}), SynthesisResult::ok());
    ASSERT_TRUE(waitUntil([&] { return keys().size() >= 15; }));
    keyboard.reset();
    ASSERT_TRUE(waitUntil([&] { return !callsNamed(QStringLiteral("SessionClose")).empty(); }));

    const auto sent = keys();
    EXPECT_LT(sent.size(), 400U);
    std::map<int, int> down;
    for (const auto& [sym, state] : sent) {
        down[sym] += state ? 1 : -1;
        EXPECT_GE(down[sym], 0) << "released before pressed: " << sym;
    }
    for (const auto& [sym, count] : down) {
        EXPECT_EQ(count, 0) << "left down: " << sym;
    }
    // Every key reached the desktop before the session ended.
    const std::string log = readAll(calls());
    EXPECT_GT(log.find("SessionClose"), log.rfind("NotifyKeyboardKeysym"));
}

TEST_F(PortalTest, PasteChordsSendTheirKeysymsInOrderAndAClosedSessionFailsThem) {
    ASSERT_NO_FATAL_FAILURE(startPortal({}));
    auto keyboard = startedKeyboard();
    ASSERT_TRUE(keyboard->isStarted());
    const int ctrl = 0xffe3;
    const int shift = 0xffe1;
    const int v = 0x76;
    const std::pair<PasteChord, std::vector<std::pair<int, int>>> rows[] = {
        {PasteChord::ctrlV, {{ctrl, 1}, {v, 1}, {v, 0}, {ctrl, 0}}},
        {PasteChord::ctrlShiftV, {{ctrl, 1}, {shift, 1}, {v, 1}, {v, 0}, {shift, 0}, {ctrl, 0}}},
    };
    for (const auto& [chord, expected] : rows) {
        const auto before = keys().size();
        EXPECT_EQ(keyboard->sendPasteChord(chord), SynthesisResult::ok());
        EXPECT_TRUE(waitUntil([&] { return keys().size() >= before + expected.size(); }));
        EXPECT_EQ(keys(before), expected);
    }

    control(QStringLiteral("CloseSessions"));
    EXPECT_TRUE(waitUntil([&] { return !keyboard->isAvailable(); }));
    EXPECT_EQ(keyboard->sendPasteChord(PasteChord::ctrlV),
              SynthesisResult::failed("the desktop closed the remote desktop session"));
}

TEST_F(PortalTest, BeforeTheSessionStartsKeysWaitAndARefusalFailsThem) {
    ASSERT_NO_FATAL_FAILURE(startPortal({"--refuse-start"}));
    LogCapture log;
    PortalKeyboard keyboard(folder / "token");
    ASSERT_TRUE(keyboard.isAvailable()) << keyboard.unavailableReason();
    // The first use asks for the session.
    EXPECT_EQ(keyboard.sendPasteChord(PasteChord::ctrlV),
              SynthesisResult::retry("the remote desktop session is starting"));
    EXPECT_EQ(keyboard.type("a", [](SynthesisResult) { ADD_FAILURE() << "done called"; }),
              SynthesisResult::retry("the remote desktop session is starting"));
    ASSERT_TRUE(waitUntil([&] { return !keyboard.isAvailable(); }));
    EXPECT_EQ(keyboard.unavailableReason(),
              "the remote desktop session was refused: the user cancelled");
    EXPECT_EQ(keyboard.sendPasteChord(PasteChord::ctrlV).kind, SynthesisResult::Kind::failed);
    EXPECT_EQ(callsNamed(QStringLiteral("Start")).size(), 1U);
    EXPECT_TRUE(keys().empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "token"));
    EXPECT_TRUE(log.contains("remote desktop unavailable: the remote desktop session was refused"));
}

TEST_F(PortalTest, TheRestoreTokenIsKeptPrivatelyAndOfferedTheNextRun) {
    const std::string token = "5f1c3a52-8b0e-4d2a-9c61-0d7e2b4f9a13";
    ASSERT_NO_FATAL_FAILURE(startPortal({"--restore-token", token}));
    const auto file = folder / "state" / "portal-token";
    {
        auto keyboard = startedKeyboard();
        EXPECT_EQ(readAll(file), token + "\n");
        EXPECT_EQ(modeOf(file), 0600U);
        const auto select = callsNamed(QStringLiteral("SelectDevices"));
        ASSERT_EQ(select.size(), 1U);
        EXPECT_EQ(select.front()
                      .value(QStringLiteral("options"))
                      .toObject()
                      .value(QStringLiteral("types"))
                      .toInt(),
                  1);
    }

    // What the next run asks the portal for, as the bus carries it: the frontend keeps the
    // token to itself rather than handing it to the desktop's half.
    const auto watched = folder / "monitor.log";
    BackgroundProcess monitor(
        {"dbus-monitor", "--session",
         "type='method_call',interface='org.freedesktop.portal.RemoteDesktop',member='"
         "SelectDevices'",
         "type='method_call',interface='org.freedesktop.DBus.Peer',member='Ping'"},
        {}, watched.string());
    ASSERT_TRUE(waitUntil([&] {
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            backendName, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.Peer"),
            QStringLiteral("Ping")));
        return readAll(watched).find("member=Ping") != std::string::npos;
    })) << "dbus-monitor did not start";
    auto keyboard = startedKeyboard();
    ASSERT_TRUE(waitUntil(
        [&] { return readAll(watched).find("member=SelectDevices") != std::string::npos; }));
    const std::string seen = readAll(watched);
    EXPECT_NE(seen.find("string \"restore_token\""), std::string::npos) << seen;
    EXPECT_NE(seen.find("string \"" + token + "\""), std::string::npos) << seen;
    EXPECT_NE(seen.find("string \"persist_mode\""), std::string::npos) << seen;

    // A file someone else wrote is not offered as a token.
    keyboard.reset();
    writeAll(file, "../../not a token\n");
    auto another = startedKeyboard();
    ASSERT_TRUE(
        waitUntil([&] { return occurrences(readAll(watched), "member=SelectDevices") == 2; }));
    const std::string second = readAll(watched).substr(seen.size());
    EXPECT_EQ(second.find("restore_token"), std::string::npos) << second;
    EXPECT_EQ(readAll(file), token + "\n");
}

} // namespace
