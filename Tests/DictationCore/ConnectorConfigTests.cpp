#include "ConnectorConfig.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

const std::vector<std::string> mcp{"--mcp"};

TEST(ConnectorConfig, AMissingOrEmptyFileBecomesOnlyOurEntry) {
    const std::string expected = "{\n"
                                 "  \"mcpServers\" : {\n"
                                 "    \"parlwick\" : {\n"
                                 "      \"args\" : [\n"
                                 "        \"--mcp\"\n"
                                 "      ],\n"
                                 "      \"command\" : \"/opt/p/bin/parlwick\"\n"
                                 "    }\n"
                                 "  }\n"
                                 "}";
    EXPECT_EQ(ConnectorConfig::connecting(std::nullopt, "/opt/p/bin/parlwick", mcp), expected);
    EXPECT_EQ(ConnectorConfig::connecting(std::string(), "/opt/p/bin/parlwick", mcp), expected);
}

TEST(ConnectorConfig, OtherServersAndMembersAreKeptAndKeysSorted) {
    const std::string file =
        R"({"theme":"dark","mcpServers":{"other":{"command":"x","args":[]},"parlwick":{"command":"old"}},"n":1.5,"list":[]})";
    const auto updated = nlohmann::json::parse(ConnectorConfig::connecting(file, "/new", mcp));
    EXPECT_EQ(updated["theme"], "dark");
    EXPECT_EQ(updated["n"], 1.5);
    EXPECT_EQ(updated["list"], nlohmann::json::array());
    EXPECT_EQ(updated["mcpServers"]["other"]["command"], "x");
    EXPECT_EQ(updated["mcpServers"]["parlwick"],
              (nlohmann::json{{"command", "/new"}, {"args", {"--mcp"}}}));
    const std::string text = ConnectorConfig::connecting(file, "/a/b", mcp);
    EXPECT_LT(text.find("\"list\""), text.find("\"mcpServers\""));
    EXPECT_LT(text.find("\"mcpServers\""), text.find("\"n\""));
    EXPECT_NE(text.find("\"/a/b\""), std::string::npos) << "slashes stay unescaped";
    EXPECT_NE(text.find("\"list\" : []"), std::string::npos);
}

TEST(ConnectorConfig, ConnectingTwiceLeavesOneEntry) {
    const auto once = ConnectorConfig::connecting(std::nullopt, "/x", mcp);
    const auto twice = ConnectorConfig::connecting(once, "/x", mcp);
    EXPECT_EQ(once, twice);
}

TEST(ConnectorConfig, DisconnectingRemovesOnlyOursAndKeepsAnEmptyServerObject) {
    const auto connected = ConnectorConfig::connecting(R"({"a":1})", "/x", mcp);
    EXPECT_EQ(ConnectorConfig::disconnecting(connected),
              "{\n  \"a\" : 1,\n  \"mcpServers\" : {}\n}");
    EXPECT_EQ(ConnectorConfig::disconnecting(std::nullopt), "{\n  \"mcpServers\" : {}\n}");
    const auto other = nlohmann::json::parse(
        ConnectorConfig::disconnecting(R"({"mcpServers":{"b":{"command":"y"},"parlwick":3}})"));
    EXPECT_EQ(other["mcpServers"], (nlohmann::json{{"b", {{"command", "y"}}}}));
}

TEST(ConnectorConfig, FilesThatAreNotObjectsAreRefused) {
    for (const std::string bad : {"[1,2]", "not json", "\"text\"", "{\"mcpServers\":[]}",
                                  "{\"mcpServers\":\"x\"}", "{\"a\":\"\xff\"}", "{\"a\":"}) {
        EXPECT_THROW(ConnectorConfig::connecting(bad, "/x", mcp), ConnectorConfig::Unreadable)
            << bad;
        EXPECT_THROW(ConnectorConfig::disconnecting(bad), ConnectorConfig::Unreadable) << bad;
    }
}

TEST(ConnectorConfig, ConnectedMeansAnEntryOfAnyShape) {
    EXPECT_TRUE(ConnectorConfig::isConnected(R"({"mcpServers":{"parlwick":null}})"));
    EXPECT_TRUE(ConnectorConfig::isConnected(R"({"mcpServers":{"parlwick":{"command":"x"}}})"));
    EXPECT_FALSE(ConnectorConfig::isConnected(std::nullopt));
    EXPECT_FALSE(ConnectorConfig::isConnected(""));
    EXPECT_FALSE(ConnectorConfig::isConnected("[]"));
    EXPECT_FALSE(ConnectorConfig::isConnected(R"({"mcpServers":[]})"));
    EXPECT_FALSE(ConnectorConfig::isConnected(R"({"mcpServers":{"Parlwick":{}}})"));
    EXPECT_FALSE(ConnectorConfig::isConnected(R"({"parlwick":{}})"));
}

} // namespace
