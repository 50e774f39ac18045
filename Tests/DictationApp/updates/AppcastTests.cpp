#include "updates/Appcast.h"

#include <gtest/gtest.h>

namespace Appcast {
void PrintTo(const Release& release, std::ostream* out) {
    *out << release.version << " at \"" << release.link << "\"";
}
} // namespace Appcast

namespace {

using Releases = std::vector<Appcast::Release>;

std::string feed(const std::string& items, const std::string& channelLink = "") {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.example.org/xml-namespaces/sparkle">
<channel><title>Parlwick</title>)" +
           channelLink + items + "</channel></rss>";
}

TEST(Appcast, ReadsVersionsFromElementsOrTheEnclosureAndTheReleaseLink) {
    struct Row {
        const char* what;
        std::string item;
        Releases expected;
    };
    const std::vector<Row> rows{
        {"elements",
         "<item><sparkle:version>42</sparkle:version>"
         "<sparkle:shortVersionString>1.4.2</sparkle:shortVersionString>"
         "<link>https://parlwick.example/releases/1.4.2</link></item>",
         {{"1.4.2", "https://parlwick.example/releases/1.4.2"}}},
        {"enclosure attributes",
         "<item><link>https://parlwick.example/r</link><enclosure url=\"https://x.example/a.deb\" "
         "sparkle:version=\"1.5\" length=\"1\" type=\"application/octet-stream\"/></item>",
         {{"1.5", "https://parlwick.example/r"}}},
        {"the build number when the short version is not a number",
         "<item><sparkle:shortVersionString>2.0 beta</sparkle:shortVersionString>"
         "<sparkle:version>1.9.7</sparkle:version></item>",
         {{"1.9.7", ""}}},
        {"malformed versions are left out",
         "<item><sparkle:version>v2</sparkle:version></item>"
         "<item><sparkle:version>1..2</sparkle:version></item>"
         "<item><sparkle:version>99999999999</sparkle:version></item>"
         "<item><title>no version at all</title></item>"
         "<item><sparkle:version> 0.3 </sparkle:version></item>",
         {{"0.3", ""}}},
        {"a beta channel's items are left out",
         "<item><sparkle:version>9.0</sparkle:version><sparkle:channel>beta</sparkle:channel>"
         "</item><item><sparkle:version>1.0</sparkle:version></item>",
         {{"1.0", ""}}},
        {"links a browser should not open are dropped",
         "<item><sparkle:version>1</sparkle:version><link>javascript:alert(1)</link></item>"
         "<item><sparkle:version>2</sparkle:version><link>file:///etc/passwd</link></item>"
         "<item><sparkle:version>3</sparkle:version><link>/relative</link></item>"
         "<item><sparkle:version>4</sparkle:version><link>http://x.example/4</link></item>",
         {{"1", ""}, {"2", ""}, {"3", ""}, {"4", ""}}},
    };
    for (const Row& row : rows) {
        const auto parsed = Appcast::parse(feed(row.item));
        ASSERT_TRUE(std::holds_alternative<Releases>(parsed))
            << row.what << ": " << std::get<std::string>(parsed);
        EXPECT_EQ(std::get<Releases>(parsed), row.expected) << row.what;
    }
    const auto withChannelLink =
        Appcast::parse(feed("<item><sparkle:version>1.1</sparkle:version></item>",
                            "<link>https://parlwick.example/</link>"));
    EXPECT_EQ(std::get<Releases>(withChannelLink),
              (Releases{{"1.1", "https://parlwick.example/"}}));
}

TEST(Appcast, ADocumentThatIsNotAFeedSaysWhy) {
    const std::vector<std::pair<std::string, std::string>> rows{
        {"", "the feed is empty"},
        {"<html><body>Not found</body></html>", "not an rss document"},
        {feed("<item><sparkle:version>1</sparkle:version>"), "not well-formed"},
        {feed("") + "<trailing>", "not well-formed"},
        {"<rss><channel>&undefined;</channel></rss>", "not well-formed"},
        {R"(<!DOCTYPE rss [<!ENTITY a "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa">
             <!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">
             <!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;"><!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;">
             <!ENTITY f "&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;"><!ENTITY g "&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;">]>
             <rss><channel><item><title>&g;</title></item></channel></rss>)",
         "not well-formed"},
    };
    for (const auto& [bytes, reason] : rows) {
        const auto parsed = Appcast::parse(bytes);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << bytes;
        EXPECT_NE(std::get<std::string>(parsed).find(reason), std::string::npos)
            << bytes << " -> " << std::get<std::string>(parsed);
    }
}

TEST(Appcast, VersionsCompareNumberByNumber) {
    struct Row {
        const char* a;
        const char* b;
        int expected;
    };
    for (const Row& row : std::vector<Row>{{"1.10", "1.9", 1},
                                           {"1.2", "1.2.0", 0},
                                           {"0.1.0", "0.1.1", -1},
                                           {"2", "1.99.99", 1},
                                           {"1.02", "1.2", 0}}) {
        EXPECT_EQ(Appcast::compare(row.a, row.b), row.expected) << row.a << " vs " << row.b;
        EXPECT_EQ(Appcast::compare(row.b, row.a), -row.expected) << row.b << " vs " << row.a;
    }
    for (const char* bad : {"", "1.", ".1", "1.a", "-1", "+1", "1 .2", "4294967296"}) {
        EXPECT_EQ(Appcast::numbers(bad), std::nullopt) << bad;
    }
    const Releases releases{{"0.9", "a"}, {"1.3", "b"}, {"1.12", "c"}, {"1.4", "d"}};
    EXPECT_EQ(Appcast::newerThan(releases, "1.0")->link, "c");
    EXPECT_EQ(Appcast::newerThan(releases, "1.12"), std::nullopt);
}

} // namespace
