#include "BackgroundProcess.h"
#include "FeedSigning.h"
#include "HttpServers.h"
#include "LogCapture.h"
#include "ManualScheduler.h"
#include "PostedWork.h"
#include "TestSupport.h"
#include "updates/Updates.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace fs = std::filesystem;

namespace {

const std::string ours = "0.4.1";

std::string feedWith(const std::string& version) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.example.org/xml-namespaces/sparkle">
<channel><title>Parlwick</title>
<item><title>Older</title><sparkle:version>0.3.0</sparkle:version>
<link>https://parlwick.example/releases/0.3.0</link></item>
<item><title>Version )" +
           version + R"(</title>
<link>https://parlwick.example/releases/)" +
           version + R"(</link>
<enclosure url="https://parlwick.example/parlwick.deb" sparkle:shortVersionString=")" +
           version +
           R"(" length="1000" type="application/vnd.debian.binary-package"/></item>
</channel></rss>)";
}

// A port on this computer where nothing listens.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class UpdatesTest : public testing::Test {
  protected:
    std::unique_ptr<Updates> updater(const std::string& feed, Updates::Options options = {}) {
        auto made = std::make_unique<Updates>(feed, signer.publicKey(), ours, settings, scheduler,
                                              posted.deliver(), options);
        QObject::connect(made.get(), &Updates::changed, [this] { ++changes; });
        return made;
    }

    // Runs a check the user asked for to its end.
    void checkNow(Updates& updates) {
        updates.checkNow();
        ASSERT_TRUE(posted.runUntil([&] { return !updates.isChecking(); }, 30));
    }

    // Served signed, as a release publishes it.
    void serve(const std::string& bytes) {
        writeAll(server.root() / "appcast.xml", signer.sign(bytes));
    }
    std::string feed() const { return server.address() + "/appcast.xml"; }

    FeedSigner signer;
    TempDir home;
    Settings settings{home / "settings.ini"};
    ManualScheduler scheduler;
    PostedWork posted;
    WebServer server;
    int changes = 0;
};

TEST_F(UpdatesTest, ANewerReleaseIsPublishedWithItsPageAndTheSameOrAnOlderOneIsNot) {
    struct Row {
        std::string served;
        std::optional<Updates::Release> available;
        QString message;
    };
    const std::vector<Row> rows{
        {"0.10.0", Updates::Release{"0.10.0", QUrl("https://parlwick.example/releases/0.10.0")},
         "A newer version, 0.10.0, is available."},
        {"0.4.1", std::nullopt, "You're up to date."},
        {"0.4", std::nullopt, "You're up to date."},
        {"0.3.9", std::nullopt, "You're up to date."},
    };
    for (const Row& row : rows) {
        serve(feedWith(row.served));
        const auto updates = updater(feed());
        changes = 0;
        checkNow(*updates);
        EXPECT_EQ(updates->available(), row.available) << row.served;
        EXPECT_EQ(updates->message(), row.message) << row.served;
        EXPECT_EQ(changes, 1) << row.served;
    }
    // nginx logs a request after its reply has gone out.
    eventually([&] { return server.requests().size() >= rows.size(); }, 5);
    EXPECT_EQ(server.requests().size(), rows.size()) << "the feed and nothing else";
}

TEST_F(UpdatesTest, AFeedThatCannotBeFetchedOrReadIsLoggedAndChangesNothing) {
    serve(feedWith("0.5"));
    const auto updates = updater(feed());
    checkNow(*updates);
    ASSERT_TRUE(updates->available());
    const auto before = updates->available();
    const QString message = updates->message();

    ScriptedServer notFound(ScriptedServer::Mode::notFound, home / "none");
    writeAll(home / "feed.xml", feedWith("0.9"));
    ScriptedServer hostile(ScriptedServer::Mode::redirect, home / "feed.xml", 0,
                           "http://parlwick.example/appcast.xml");
    ScriptedServer htmlPage(ScriptedServer::Mode::errorPage, home / "feed.xml");
    struct Row {
        std::string what;
        std::function<void()> serve;
        std::string address;
        std::string logged;
    };
    const std::vector<Row> rows{
        {"malformed xml", [&] { serve(feedWith("0.9").substr(0, 300)); }, feed(),
         "update check failed: the feed is not well-formed xml"},
        {"an html page", [] {}, htmlPage.address() + "/appcast.xml",
         "update check failed: the feed is not signed"},
        {"unreachable", [] {}, "http://127.0.0.1:" + std::to_string(closedPort()) + "/appcast.xml",
         "update check failed: "},
        {"missing", [] {}, notFound.address() + "/appcast.xml",
         "update check failed: the server answered http 404"},
        {"plain http to another computer", [] {}, "http://parlwick.example/appcast.xml",
         "update check failed: refused to fetch an address: plain http to another computer"},
        {"a redirect to plain http elsewhere", [] {}, hostile.address() + "/appcast.xml",
         "update check failed: refused to fetch an address: plain http to another computer"},
        {"not http at all", [] {}, "ftp://parlwick.example/appcast.xml",
         "update check failed: refused to fetch an address: not an http or https address"},
    };
    for (const Row& row : rows) {
        row.serve();
        const auto failing = updater(row.address);
        LogCapture log;
        checkNow(*failing);
        EXPECT_TRUE(log.contains(row.logged)) << row.what << ": " << log.text();
        EXPECT_EQ(failing->available(), std::nullopt) << row.what;
        EXPECT_EQ(failing->message(), QString()) << row.what;
    }
    // And one that had found a release keeps it when the feed breaks.
    serve("<rss><channel><item>");
    changes = 0;
    checkNow(*updates);
    EXPECT_EQ(updates->available(), before);
    EXPECT_EQ(updates->message(), message);
    EXPECT_EQ(changes, 0);
}

TEST_F(UpdatesTest, OnlyAFeedSignedWithOurKeyIsRead) {
    const std::string newer = feedWith("0.9");
    const std::string signedFeed = signer.sign(newer);
    std::string tampered = signedFeed;
    tampered.replace(tampered.find("0.9"), 3, "9.9");
    const FeedSigner stranger;
    struct Row {
        std::string what;
        std::string served;
        std::string logged;
    };
    const std::vector<Row> rows{
        {"unsigned", newer, "update check failed: the feed is not signed"},
        {"signed by another key", stranger.sign(newer),
         "update check failed: the feed's signature does not match"},
        {"changed after signing", tampered,
         "update check failed: the feed's signature does not match"},
        {"more after the signature", signedFeed + "<rss/>\n",
         "update check failed: the feed is not signed"},
        {"a signature of a part only",
         newer + "\n<!-- sparkle-signatures:\nedSignature: " + std::string(86, 'A') +
             "==\nlength: 10\n-->\n",
         "update check failed: the feed is not signed"},
    };
    for (const Row& row : rows) {
        writeAll(server.root() / "appcast.xml", row.served);
        const auto updates = updater(feed());
        LogCapture log;
        checkNow(*updates);
        EXPECT_TRUE(log.contains(row.logged)) << row.what << ": " << log.text();
        EXPECT_EQ(updates->available(), std::nullopt) << row.what;
    }
    writeAll(server.root() / "appcast.xml", signedFeed);
    const auto updates = updater(feed());
    checkNow(*updates);
    EXPECT_TRUE(updates->available());
}

TEST_F(UpdatesTest, AFeedShowsOnlyHttpsPagesAndShortVersions) {
    const std::string huge(900 * 1024, '1');
    serve(R"(<rss xmlns:sparkle="s"><channel>)"
          "<item><sparkle:version>" +
          huge + "." + huge +
          "</sparkle:version></item>"
          "<item><sparkle:version>0.8</sparkle:version>"
          "<link>http://parlwick.example/releases/0.8</link></item>"
          "</channel></rss>");
    const auto updates = updater(feed(), {.limits = {.maxBytes = 4 << 20}});
    checkNow(*updates);
    ASSERT_TRUE(updates->available());
    EXPECT_EQ(updates->available()->version, "0.8") << "a 900 KB version is no version";
    EXPECT_TRUE(updates->available()->page.isEmpty()) << "plain http is no release page";
}

TEST_F(UpdatesTest, AFeedTooLargeOrAServerThatNeverAnswersEndsTheCheck) {
    serve(feedWith("0.9") + std::string(4096, ' '));
    const auto large = updater(feed(), {.limits = {.maxBytes = 1024}});
    LogCapture log;
    checkNow(*large);
    EXPECT_TRUE(log.contains("update check failed: the feed is larger than 1024 bytes"))
        << log.text();

    ScriptedServer silent(ScriptedServer::Mode::silent, home / "none");
    const auto waiting =
        updater(silent.address() + "/appcast.xml", {.limits = {.totalSeconds = 1}});
    checkNow(*waiting);
    EXPECT_TRUE(log.contains("update check failed: operation timed out")) << log.text();
    EXPECT_EQ(waiting->available(), std::nullopt);
}

TEST_F(UpdatesTest, AutomaticChecksRunSoonAfterStartThenDailyWhileTheSettingIsOn) {
    serve(feedWith("0.4.1"));
    const auto updates = updater(feed());
    EXPECT_TRUE(updates->checksAutomatically()) << "on by default";
    const auto finish = [&] {
        EXPECT_TRUE(updates->isChecking());
        EXPECT_TRUE(posted.runUntil([&] { return !updates->isChecking(); }, 30));
    };

    scheduler.advanceBy(59);
    EXPECT_FALSE(updates->isChecking());
    scheduler.advanceBy(1);
    finish();
    EXPECT_EQ(updates->message(), QString()) << "a check nobody asked for stays quiet";
    EXPECT_EQ(changes, 0);

    scheduler.advanceTo(24 * 3600 - 1);
    EXPECT_FALSE(updates->isChecking());
    serve(feedWith("0.5"));
    scheduler.advanceTo(24 * 3600);
    finish();
    EXPECT_EQ(updates->message(), "A newer version, 0.5, is available.");
    EXPECT_EQ(changes, 1);

    // The next day's check finds the same release and says nothing new.
    scheduler.advanceTo(2 * 24 * 3600);
    finish();
    EXPECT_EQ(changes, 1);

    updates->setChecksAutomatically(false);
    EXPECT_FALSE(settings.get(SettingKeys::checksForUpdates));
    EXPECT_EQ(scheduler.pending(), 0u);
    scheduler.advanceBy(3 * 24 * 3600);
    EXPECT_FALSE(updates->isChecking());

    // Switched on elsewhere (the General tab writes the setting): soon, then daily again.
    settings.set(SettingKeys::checksForUpdates, true);
    scheduler.advanceBy(60);
    finish();
    scheduler.advanceBy(24 * 3600 - 60);
    finish();

    // A check asked for while an automatic one runs is answered by it.
    serve(feedWith("0.4.1"));
    scheduler.advanceBy(24 * 3600);
    updates->checkNow();
    finish();
    EXPECT_EQ(updates->message(), "You're up to date.");
    EXPECT_EQ(updates->available(), std::nullopt);
}

TEST_F(UpdatesTest, OnlyABundleWithAFeedAndAKeyHasAnUpdater) {
    const auto bundleWith = [](std::optional<std::string> feed, std::optional<std::string> key,
                               std::optional<std::string> version) {
        Paths::Bundle bundle{
            "/opt/parlwick", "org.parlwick.Parlwick", "Parlwick", {}, version, {}, feed, key};
        return Paths("/opt/parlwick/bin/parlwick", bundle, Paths::Homes::under("/tmp/none"), "/");
    };
    const std::string address = "https://parlwick.example/appcast.xml";
    struct Row {
        Paths paths;
        bool exists;
    };
    const std::vector<Row> rows{
        {bundleWith(address, "base64key=", "0.1.0"), true},
        {bundleWith(address, "", "0.1.0"), false},
        {bundleWith("", "base64key=", "0.1.0"), false},
        {bundleWith(std::nullopt, "base64key=", "0.1.0"), false},
        {bundleWith(address, std::nullopt, "0.1.0"), false},
        {bundleWith(address, "base64key=", "unknown"), false},
        {Paths("/usr/bin/parlwick", std::nullopt, Paths::Homes::under("/tmp/none"), "/"), false},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto updates =
            Updates::forBundle(rows[i].paths, settings, scheduler, posted.deliver());
        EXPECT_EQ(updates != nullptr, rows[i].exists) << "row " << i;
    }
}

TEST_F(UpdatesTest, BundleJsonCarriesTheFeedAndTheKey) {
    writeAll(home / "prefix/share/parlwick/bundle.json",
             R"({"CFBundleIdentifier":"org.parlwick.Parlwick","CFBundleShortVersionString":"0.1.0",
                 "SUFeedURL":"https://parlwick.example/appcast.xml","SUPublicEDKey":"a2V5"})");
    const auto bundle = Paths::bundleFor(home / "prefix/bin/parlwick");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->updateFeed, "https://parlwick.example/appcast.xml");
    EXPECT_EQ(bundle->updateKey, "a2V5");
}

} // namespace
