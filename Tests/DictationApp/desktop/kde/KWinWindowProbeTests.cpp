// The KDE window probe against Tests/Support/kwin-scripting-stand-in.py, which owns
// org.kde.KWin on a private session bus. The real KWin needs a Plasma session and cannot run
// on this machine, so whether Plasma's script engine runs our script is not tested here; what
// the stand-in checks is the bus side: the script we hand over, the calls to load, run and
// unload it, and how reports (from KWin and from anyone else) are taken.
#include "BackgroundProcess.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "desktop/kde/ActiveWindowScript.h"
#include "desktop/kde/KWinWindowProbe.h"

#include <QCoreApplication>
#include <QDBusConnection>
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

bool waitUntil(const std::function<bool()>& done, double seconds = 10) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) {
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
        options.insert(options.begin(), {KWIN_STAND_IN, calls().string()});
        kwin_ = std::make_unique<BackgroundProcess>(
            options, std::vector<std::pair<std::string, std::string>>{},
            (folder / "kwin.log").string());
        ASSERT_TRUE(waitUntil(kwinIsOnBus)) << readAll(folder / "kwin.log");
    }
    void stopKWin() {
        kwin_.reset();
        ASSERT_TRUE(waitUntil([] { return !kwinIsOnBus(); }));
    }

    std::filesystem::path calls() const { return folder / "calls.jsonl"; }

    // The calls the stand-in received, in order: (name, the whole record).
    std::vector<QJsonObject> received() const {
        std::vector<QJsonObject> found;
        std::istringstream lines(readAll(calls()));
        for (std::string line; std::getline(lines, line);) {
            found.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        }
        return found;
    }
    std::vector<QJsonObject> receivedNamed(const QString& name) const {
        std::vector<QJsonObject> found;
        for (const QJsonObject& call : received()) {
            if (call.value(QStringLiteral("call")).toString() == name) {
                found.push_back(call);
            }
        }
        return found;
    }

    // Has the stand-in report as KWin would, and waits for our answer.
    void kwinSays(const QString& method, const QVariantList& arguments = {}) {
        const std::size_t before = receivedNamed(QStringLiteral("reply")).size();
        auto call = QDBusMessage::createMethodCall(kwinService, QStringLiteral("/Test"),
                                                   QStringLiteral("org.parlwick.Test"), method);
        call.setArguments(arguments);
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        ASSERT_TRUE(waitUntil([&] {
            return receivedNamed(QStringLiteral("reply")).size() > before;
        })) << "the report got no answer";
        const QJsonObject answer = receivedNamed(QStringLiteral("reply")).back();
        EXPECT_TRUE(answer.value(QStringLiteral("error")).isNull())
            << answer.value(QStringLiteral("error")).toString().toStdString();
    }
    void activate(const QString& cls, const QString& name, const QString& caption, double pid,
                  bool pidAsInteger = true) {
        kwinSays(QStringLiteral("Activate"), {cls, name, caption, pid, pidAsInteger});
    }

    // A probe whose script has run and made its first report.
    std::unique_ptr<KWinWindowProbe> startedProbe() {
        auto probe = KWinWindowProbe::make(ourName());
        EXPECT_NE(probe, nullptr) << readAll(folder / "kwin.log");
        EXPECT_TRUE(waitUntil([&] { return !receivedNamed(QStringLiteral("reply")).empty(); }))
            << "the script made no first report";
        return probe;
    }

    TempDir folder;
    std::unique_ptr<BackgroundProcess> kwin_;
};

TEST_F(KWinProbeTest, loadsAndRunsTheScriptThatCallsUsBack) {
    struct Row {
        const char* plasma;
        std::vector<std::string> options;
        QString runPath;
    };
    const std::vector<Row> rows{{"6", {}, QStringLiteral("/Scripting/Script0")},
                                {"5", {"--plasma5"}, QStringLiteral("/0")}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("Plasma ") + row.plasma);
        std::filesystem::remove(calls());
        startKWin(row.options);
        {
            auto probe = startedProbe();
            ASSERT_NE(probe, nullptr);
            EXPECT_TRUE(probe->isAvailable());
            const QString plugin = ActiveWindowScript::pluginName(ourName());
            std::vector<QString> order;
            for (const QJsonObject& call : received()) {
                order.push_back(call.value(QStringLiteral("call")).toString());
            }
            // A leftover of a crashed run goes first, or KWin would refuse the name.
            EXPECT_EQ(order, (std::vector<QString>{"unloadScript", "loadScript", "run", "reply"}));
            const QJsonObject load = receivedNamed(QStringLiteral("loadScript")).at(0);
            EXPECT_EQ(load.value(QStringLiteral("plugin")).toString(), plugin);
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
            EXPECT_EQ(receivedNamed(QStringLiteral("run")).at(0).value(QStringLiteral("path")),
                      row.runPath);
            // The stand-in reported no active window at the start.
            EXPECT_EQ(probe->frontmost(), std::nullopt);
        }
        const auto unloads = receivedNamed(QStringLiteral("unloadScript"));
        ASSERT_EQ(unloads.size(), 2u) << "the script was not unloaded with the probe";
        EXPECT_EQ(received().back().value(QStringLiteral("call")).toString(), "unloadScript");
        stopKWin();
    }
}

TEST_F(KWinProbeTest, reportsBecomeTheFrontWindowNamedByItsDesktopEntry) {
    writeAll(folder / "data" / "applications" / "org.example.Editor.desktop",
             "[Desktop Entry]\nType=Application\nName=Example Editor\nExec=example-editor\n");
    // An entry found only through the process: the test program's own executable.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    writeAll(folder / "data" / "applications" / "runner.desktop",
             "[Desktop Entry]\nType=Application\nName=Test Runner\nExec=" + self + "\n");
    startKWin({"--active", "org.example.Editor", "org.example.Editor", "notes.txt - Editor", "0"});
    auto probe = startedProbe();
    ASSERT_NE(probe, nullptr);

    // The report at the start.
    auto first = probe->frontmost();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->appName, "Example Editor");
    EXPECT_EQ(probe->title(*first), "notes.txt - Editor");

    struct Row {
        QString cls, name, caption;
        double pid;
        bool pidAsInteger;
        std::string appName;
        std::optional<std::int64_t> pid_;
    };
    const double ourPid = static_cast<double>(::getpid());
    const std::vector<Row> rows{
        {"org.example.Editor", "org.example.Editor", "todo.md", 4321, true, "Example Editor", 4321},
        // Older script engines send a JavaScript number as a double.
        {"org.example.Editor", "org.example.Editor", "todo.md", 4321, false, "Example Editor",
         4321},
        // Another caption of the same app's window: a report of its own.
        {"org.example.Editor", "org.example.Editor", "plan.md", 4321, true, "Example Editor", 4321},
        {"unknown-app", "unknown-app", "", 0, true, "unknown-app", std::nullopt},
        {"unrelated", "unrelated", "Runner", ourPid, false, "Test Runner", ::getpid()},
        {"", "", "", -1, true, "", std::nullopt},
    };
    std::optional<FrontWindow> before = first;
    QString beforeCaption = QStringLiteral("notes.txt - Editor");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cls.toStdString() + " pid " + std::to_string(row.pid));
        activate(row.cls, row.name, row.caption, row.pid, row.pidAsInteger);
        const auto front = probe->frontmost();
        ASSERT_TRUE(front);
        EXPECT_EQ(front->appName, row.appName);
        EXPECT_EQ(front->windowClass, row.cls.toStdString());
        EXPECT_EQ(front->pid, row.pid_);
        EXPECT_EQ(probe->title(*front),
                  row.caption.isEmpty() ? std::nullopt
                                        : std::optional<std::string>(row.caption.toStdString()));
        // The same report twice is the same window; any other is a new one.
        const bool sameReport = before->windowClass == front->windowClass &&
                                before->pid == front->pid && beforeCaption == row.caption;
        EXPECT_EQ(front->id == before->id, sameReport);
        if (!sameReport) {
            EXPECT_EQ(probe->title(*before), std::nullopt)
                << "the title of a window no longer front";
        }
        before = front;
        beforeCaption = row.caption;
    }

    kwinSays(QStringLiteral("Close"));
    EXPECT_EQ(probe->frontmost(), std::nullopt);
    EXPECT_EQ(probe->title(*before), std::nullopt);
}

TEST_F(KWinProbeTest, onlyKWinCanNameTheFrontWindow) {
    startKWin({"--active", "org.example.Editor", "org.example.Editor", "notes", "0"});
    auto probe = startedProbe();
    ASSERT_NE(probe, nullptr);
    const auto front = probe->frontmost();
    ASSERT_TRUE(front);

    LogCapture log;
    auto stranger =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stranger"));
    ASSERT_TRUE(stranger.isConnected());
    struct Row {
        QString member;
        QVariantList arguments;
    };
    const std::vector<Row> rows{
        {QStringLiteral("Activated"),
         {QStringLiteral("evil"), QStringLiteral("evil"), QStringLiteral("Password"), 1}},
        {QStringLiteral("Closed"), {}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.member.toStdString());
        auto call = QDBusMessage::createMethodCall(
            ourName(), QString::fromLatin1(ActiveWindowScript::objectPath),
            QString::fromLatin1(ActiveWindowScript::interfaceName), row.member);
        call.setArguments(row.arguments);
        const QDBusPendingCall pending = stranger.asyncCall(call);
        ASSERT_TRUE(waitUntil([&] { return pending.isFinished(); }));
        EXPECT_EQ(pending.error().type(), QDBusError::AccessDenied);
        EXPECT_EQ(probe->frontmost(), front);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("stranger"));
    EXPECT_TRUE(log.contains("ignored a window report from")) << log.text();
    EXPECT_FALSE(log.contains("Password"));
}

TEST_F(KWinProbeTest, aKWinThatGoesAwayTakesTheFrontWindowAndANewOneGetsTheScript) {
    startKWin({"--active", "org.example.Editor", "org.example.Editor", "notes", "0"});
    auto probe = startedProbe();
    ASSERT_NE(probe, nullptr);
    ASSERT_TRUE(probe->frontmost());

    stopKWin();
    ASSERT_TRUE(waitUntil([&] { return !probe->isAvailable(); }));
    EXPECT_EQ(probe->frontmost(), std::nullopt);

    std::filesystem::remove(calls());
    startKWin({"--active", "org.example.Other", "org.example.Other", "other", "0"});
    ASSERT_TRUE(waitUntil([&] { return probe->isAvailable() && probe->frontmost(); }))
        << readAll(calls());
    EXPECT_EQ(probe->frontmost()->windowClass, "org.example.Other");
}

TEST_F(KWinProbeTest, withoutKWinsScriptingThereIsNoProbe) {
    struct Row {
        const char* why;
        std::vector<std::string> options; // empty: no KWin at all
        bool kwin;
        QString busName;
    };
    const std::vector<Row> rows{
        {"no KWin on the bus", {}, false, {}},
        {"no /Scripting object", {"--no-scripting"}, true, {}},
        {"the script refused", {"--refuse"}, true, {}},
        {"a name we do not own", {}, true, QStringLiteral("org.example.NotOurs")},
        {"a name that is no bus name", {}, true, QStringLiteral("x\"; evil(); \"")},
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
            // Nothing of ours is left loaded in KWin.
            EXPECT_TRUE(receivedNamed(QStringLiteral("run")).empty());
            stopKWin();
        }
    }
}

} // namespace
