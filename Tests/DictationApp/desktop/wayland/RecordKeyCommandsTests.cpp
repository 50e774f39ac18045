// The record key's bus commands on a private session bus: what a burst of calls comes out as,
// and a program flooding them from a connection of its own.
#include "DesktopSupport.h"
#include "desktop/wayland/RecordKeyCommands.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Kind = KeyEvent::Kind;
using DesktopSupport::waitUntil;

class RecordKeyCommandsTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* missing = std::getenv("PARLWICK_DESKTOP_MISSING")) {
            GTEST_SKIP() << "no private session bus: " << missing;
        }
        commands = std::make_unique<RecordKeyCommands>(QStringLiteral("org.parlwick.Test"));
        ASSERT_TRUE(commands->isAvailable()) << commands->unavailableReason();
        commands->start([this](const KeyEvent& event) { heard.push_back(event.kind); });
    }

    // Lets the main loop run for a while.
    static void spin(double seconds) {
        waitUntil([] { return false; }, seconds);
    }

    std::unique_ptr<RecordKeyCommands> commands;
    std::vector<Kind> heard;
};

TEST_F(RecordKeyCommandsTest, CallsComeOutAsTheirNetEffectAtMostOneEveryGap) {
    const double gap = RecordKeyCommands::gapMs / 1000.0;
    const struct {
        const char* name;
        // Each step: a method, then the pause after it in gaps.
        std::vector<std::pair<const char*, double>> calls;
        std::vector<Kind> heard;
    } cases[] = {
        {"a held key", {{"Start", 3}, {"Stop", 3}}, {Kind::recordKeyDown, Kind::recordKeyUp}},
        {"a repeating key starts once",
         {{"Start", 0}, {"Start", 0}, {"Start", 3}, {"Stop", 3}},
         {Kind::recordKeyDown, Kind::recordKeyUp}},
        {"a quick tap still goes down and up",
         {{"Start", 0}, {"Stop", 3}},
         {Kind::recordKeyDown, Kind::recordKeyUp}},
        {"a double tap at a hand's pace",
         {{"Start", 1.5}, {"Stop", 1.5}, {"Start", 1.5}, {"Stop", 3}},
         {Kind::recordKeyDown, Kind::recordKeyUp, Kind::recordKeyDown, Kind::recordKeyUp}},
        {"a release of a key never pressed says nothing", {{"Stop", 3}}, {}},
        {"toggles apart", {{"Toggle", 3}, {"Toggle", 3}}, {Kind::recordToggle, Kind::recordToggle}},
        {"three toggles in a burst",
         {{"Toggle", 0}, {"Toggle", 0}, {"Toggle", 3}},
         {Kind::recordToggle}},
        {"a toggle just after another waits for the gap",
         {{"Toggle", 0.5}, {"Toggle", 0.2}},
         {Kind::recordToggle}},
    };
    for (const auto& c : cases) {
        heard.clear();
        for (const auto& [method, pause] : c.calls) {
            QMetaObject::invokeMethod(commands.get(), method);
            spin(pause * gap);
        }
        EXPECT_EQ(heard, c.heard) << c.name;
    }
}

TEST_F(RecordKeyCommandsTest, AFloodOfToggleCallsIsAnsweredAtOnceAndComesOutAsAFew) {
    // Another program of the user's, on a connection of its own, not waiting for answers.
    QDBusConnection flooder =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("flooder"));
    ASSERT_TRUE(flooder.isConnected());
    const auto call = QDBusMessage::createMethodCall(
        QStringLiteral("org.parlwick.Test"), QString::fromLatin1(RecordKeyCommands::objectPath),
        QString::fromLatin1(RecordKeyCommands::interfaceName), QStringLiteral("Toggle"));
    QElapsedTimer sinceFlood;
    sinceFlood.start();
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(flooder.send(call));
    }
    // The last call answered means every call before it was handled.
    const QDBusPendingCall last = flooder.asyncCall(call);
    ASSERT_TRUE(waitUntil([&] { return last.isFinished(); }, 10)) << "the calls went unanswered";
    EXPECT_FALSE(last.isError()) << last.error().message().toStdString();
    const double burst = sinceFlood.elapsed() / 1000.0;
    spin(3 * RecordKeyCommands::gapMs / 1000.0);
    // 501 toggles: an odd number, so recording ends up toggled, however many come out.
    EXPECT_EQ(heard.size() % 2, 1u);
    EXPECT_LE(heard.size(), 2 + static_cast<std::size_t>(burst * 1000 / RecordKeyCommands::gapMs))
        << "a burst of " << burst << " s";
    QDBusConnection::disconnectFromBus(QStringLiteral("flooder"));
}

} // namespace
