// The KDE window probe against Tests/Support/kwin-scripting-stand-in.py, which owns
// org.kde.KWin on a private session bus. The real KWin needs a Plasma session and cannot run
// on this machine, so whether Plasma's script engine runs our script is not tested here; what
// is tested is the bus side: the script we hand over, loading, running and unloading it, and
// which reports are taken.
#include "BackgroundProcess.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "desktop/kde/ActiveWindowScript.h"
#include "desktop/kde/KWinWindowProbe.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");

bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 10'000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

bool kwinIsOnBus() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(kwinService).value();
}

QString ourName() {
    return QDBusConnection::sessionBus().baseService();
}

class KWinProbeTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* missing = std::getenv("PARLWICK_DESKTOP_MISSING")) {
            GTEST_SKIP() << "no private session bus: " << missing;
        }
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString((folder / "data").string()));
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }

    void startKWin(std::vector<std::string> options = {}) {
        std::filesystem::remove(folder / "calls.jsonl");
        options.insert(options.begin(), {KWIN_STAND_IN, (folder / "calls.jsonl").string()});
        kwin_ = std::make_unique<BackgroundProcess>(
            options, std::vector<std::pair<std::string, std::string>>{},
            (folder / "kwin.log").string());
        ASSERT_TRUE(waitUntil(kwinIsOnBus)) << readAll(folder / "kwin.log");
    }
    void stopKWin() {
        kwin_.reset();
        ASSERT_TRUE(waitUntil([] { return !kwinIsOnBus(); }));
    }

    // What the stand-in received, in order; only the calls named `name` when given.
    std::vector<QJsonObject> received(const QString& name = {}) const {
        std::vector<QJsonObject> found;
        std::istringstream lines(readAll(folder / "calls.jsonl"));
        for (std::string line; std::getline(lines, line);) {
            auto call = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (name.isEmpty() || call.value(QStringLiteral("call")).toString() == name) {
                found.push_back(call);
            }
        }
        return found;
    }

    // Has KWin report (Activate or Close on the stand-in) and waits for our answer.
    void kwinSays(const QString& method, const QVariantList& arguments = {}) {
        const std::size_t before = received(QStringLiteral("reply")).size();
        auto call = QDBusMessage::createMethodCall(kwinService, QStringLiteral("/Test"),
                                                   QStringLiteral("org.parlwick.Test"), method);
        call.setArguments(arguments);
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        ASSERT_TRUE(waitUntil([&] { return received(QStringLiteral("reply")).size() > before; }));
        EXPECT_TRUE(
            received(QStringLiteral("reply")).back().value(QStringLiteral("error")).isNull());
    }

    // A probe whose script has run and made its first report.
    std::unique_ptr<KWinWindowProbe> startedProbe() {
        auto probe = KWinWindowProbe::make(ourName());
        EXPECT_NE(probe, nullptr) << readAll(folder / "kwin.log");
        EXPECT_TRUE(waitUntil([&] { return !received(QStringLiteral("reply")).empty(); }))
            << "the script made no first report";
        return probe;
    }

    TempDir folder;
    std::unique_ptr<BackgroundProcess> kwin_;
};

TEST_F(KWinProbeTest, loadsRunsAndUnloadsTheScriptThatCallsUsBack) {
    // Where Plasma 6 and Plasma 5 put the loaded script's object.
    const std::vector<std::pair<std::vector<std::string>, QString>> rows{
        {{}, QStringLiteral("/Scripting/Script0")}, {{"--plasma5"}, QStringLiteral("/0")}};
    for (const auto& [options, runPath] : rows) {
        SCOPED_TRACE(runPath.toStdString());
        startKWin(options);
        {
            auto probe = startedProbe();
            ASSERT_NE(probe, nullptr);
            EXPECT_TRUE(probe->isAvailable());
            std::vector<QString> order;
            for (const QJsonObject& call : received()) {
                order.push_back(call.value(QStringLiteral("call")).toString());
            }
            // A leftover of a crashed run goes first, or KWin would refuse the name.
            EXPECT_EQ(order, (std::vector<QString>{"unloadScript", "loadScript", "run", "reply"}));
            const QJsonObject load = received(QStringLiteral("loadScript")).at(0);
            EXPECT_EQ(load.value(QStringLiteral("plugin")).toString(),
                      ActiveWindowScript::pluginName(ourName()));
            // The script file, then its folder.
            EXPECT_EQ(load.value(QStringLiteral("modes")).toVariant().toStringList(),
                      (QStringList{"0o600", "0o700"}));
            const QString text = load.value(QStringLiteral("text")).toString();
            for (const QString& part :
                 {QStringLiteral("\"%1\"").arg(ourName()),
                  QStringLiteral("\"/org/parlwick/Parlwick/ActiveWindow\""),
                  QStringLiteral("\"org.parlwick.Parlwick.ActiveWindow\""),
                  QStringLiteral("\"Activated\""), QStringLiteral("\"Closed\""),
                  QStringLiteral("workspace.windowActivated.connect(activated)"),
                  QStringLiteral("workspace.clientActivated.connect(activated)"),
                  QStringLiteral("activated(workspace.activeWindow)")}) {
                EXPECT_TRUE(text.contains(part)) << part.toStdString();
            }
            EXPECT_EQ(received(QStringLiteral("run")).at(0).value(QStringLiteral("path")), runPath);
            // The stand-in had no active window to report at the start.
            EXPECT_EQ(probe->frontmost(), std::nullopt);
        }
        EXPECT_EQ(received().back().value(QStringLiteral("call")).toString(), "unloadScript")
            << "the script stayed loaded after the probe";
        stopKWin();
    }
}

TEST_F(KWinProbeTest, reportsBecomeTheFrontWindowNamedByItsDesktopEntry) {
    writeAll(folder / "data" / "applications" / "org.example.Editor.desktop",
             "[Desktop Entry]\nType=Application\nName=Example Editor\nExec=example-editor\n");
    // An entry found only through the process: this test program's executable.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    writeAll(folder / "data" / "applications" / "runner.desktop",
             "[Desktop Entry]\nType=Application\nName=Test Runner\nExec=" + self + "\n");
    startKWin({"--active", "org.example.Editor", "org.example.Editor", "notes.txt", "0"});
    auto probe = startedProbe();
    ASSERT_NE(probe, nullptr);
    auto before = probe->frontmost();
    ASSERT_TRUE(before);
    EXPECT_EQ(before->appName, "Example Editor");
    EXPECT_EQ(probe->title(*before), "notes.txt");

    struct Row {
        QString cls, caption;
        double pid;
        bool pidAsInteger; // older script engines send a JavaScript number as a double
        std::string appName;
        std::optional<std::int64_t> expectedPid;
    };
    const std::int64_t ourPid = ::getpid();
    const std::vector<Row> rows{
        {"org.example.Editor", "todo.md", 4321, true, "Example Editor", 4321},
        {"org.example.Editor", "todo.md", 4321, false, "Example Editor", 4321},
        {"org.example.Editor", "plan.md", 4321, true, "Example Editor", 4321},
        {"unknown-app", "", 0, true, "unknown-app", std::nullopt},
        {"unrelated", "Runner", static_cast<double>(ourPid), false, "Test Runner", ourPid},
        {"", "", -1, true, "", std::nullopt},
    };
    QString beforeCaption = QStringLiteral("notes.txt");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cls.toStdString() + " " + row.caption.toStdString());
        kwinSays(QStringLiteral("Activate"),
                 {row.cls, row.cls, row.caption, row.pid, row.pidAsInteger});
        const auto front = probe->frontmost();
        ASSERT_TRUE(front);
        EXPECT_EQ(front->appName, row.appName);
        EXPECT_EQ(front->windowClass, row.cls.toStdString());
        EXPECT_EQ(front->pid, row.expectedPid);
        EXPECT_EQ(probe->title(*front),
                  row.caption.isEmpty() ? std::nullopt : std::optional(row.caption.toStdString()));
        // The same report twice is the same window; any other report is another one.
        const bool same = before->windowClass == front->windowClass && before->pid == front->pid &&
                          beforeCaption == row.caption;
        EXPECT_EQ(front->id == before->id, same);
        if (!same) {
            EXPECT_EQ(probe->title(*before), std::nullopt);
        }
        before = front;
        beforeCaption = row.caption;
    }

    kwinSays(QStringLiteral("Close"));
    EXPECT_EQ(probe->frontmost(), std::nullopt);
    EXPECT_EQ(probe->title(*before), std::nullopt);
}

TEST_F(KWinProbeTest, onlyKWinNamesTheFrontWindow) {
    startKWin({"--active", "org.example.Editor", "org.example.Editor", "notes", "0"});
    auto probe = startedProbe();
    ASSERT_NE(probe, nullptr);
    const auto front = probe->frontmost();
    ASSERT_TRUE(front);

    LogCapture log;
    auto stranger =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stranger"));
    const auto callFromStranger = [&](const QString& interface, const QString& member,
                                      const QVariantList& arguments) {
        auto call = QDBusMessage::createMethodCall(
            ourName(), QString::fromLatin1(ActiveWindowScript::objectPath), interface, member);
        call.setArguments(arguments);
        QDBusPendingCall pending = stranger.asyncCall(call);
        EXPECT_TRUE(waitUntil([&] { return pending.isFinished(); }));
        return pending;
    };
    const QString ours = QString::fromLatin1(ActiveWindowScript::interfaceName);
    EXPECT_EQ(callFromStranger(
                  ours, QStringLiteral("Activated"),
                  {QStringLiteral("evil"), QStringLiteral("evil"), QStringLiteral("Password"), 1})
                  .error()
                  .type(),
              QDBusError::AccessDenied);
    EXPECT_EQ(callFromStranger(ours, QStringLiteral("Closed"), {}).error().type(),
              QDBusError::AccessDenied);
    EXPECT_EQ(probe->frontmost(), front);
    EXPECT_TRUE(log.contains("ignored a window report from")) << log.text();
    EXPECT_FALSE(log.contains("Password"));
    // Anyone may still see what the object offers.
    const QDBusPendingCall introspection = callFromStranger(
        QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"), {});
    EXPECT_TRUE(introspection.reply().arguments().value(0).toString().contains("Activated"))
        << introspection.error().message().toStdString();
    QDBusConnection::disconnectFromBus(QStringLiteral("stranger"));
}

TEST_F(KWinProbeTest, aKWinThatGoesAwayTakesTheFrontWindowAndANewOneGetsTheScript) {
    startKWin({"--active", "org.example.Editor", "org.example.Editor", "notes", "0"});
    auto probe = startedProbe();
    ASSERT_NE(probe, nullptr);
    ASSERT_TRUE(probe->frontmost());

    stopKWin();
    ASSERT_TRUE(waitUntil([&] { return !probe->isAvailable(); }));
    EXPECT_EQ(probe->frontmost(), std::nullopt);

    startKWin({"--active", "org.example.Other", "org.example.Other", "other", "0"});
    ASSERT_TRUE(waitUntil([&] { return probe->isAvailable() && probe->frontmost(); }));
    EXPECT_EQ(probe->frontmost()->windowClass, "org.example.Other");
}

TEST_F(KWinProbeTest, withoutKWinsScriptingThereIsNoProbe) {
    struct Row {
        const char* why;
        bool kwin;
        std::vector<std::string> options;
        QString busName; // ours when empty
    };
    const std::vector<Row> rows{
        {"no KWin on the bus", false, {}, {}},
        {"no /Scripting object", true, {"--no-scripting"}, {}},
        {"the script refused", true, {"--refuse"}, {}},
        {"a name we do not own", true, {}, QStringLiteral("org.example.NotOurs")},
        {"a name that is no bus name", true, {}, QStringLiteral("x\"; evil(); \"")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        if (row.kwin) {
            startKWin(row.options);
        }
        LogCapture log;
        EXPECT_EQ(KWinWindowProbe::make(row.busName.isEmpty() ? ourName() : row.busName), nullptr);
        EXPECT_TRUE(log.contains("kde window probe: ")) << "no reason logged";
        if (row.kwin) {
            EXPECT_TRUE(received(QStringLiteral("run")).empty());
            stopKWin();
        }
    }
}

} // namespace
