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

TEST(ConnectorConfig, NumbersComeBackAsTheOtherAppWroteThem) {
    const std::vector<std::string> numbers{"123456789012345678901234567890",
                                           "-123456789012345678901234567890",
                                           "18446744073709551615",
                                           "18446744073709551616",
                                           "-9223372036854775808",
                                           "-9223372036854775809",
                                           "0",
                                           "-0",
                                           "-0.0",
                                           "1.50",
                                           "1E+2",
                                           "2e-7",
                                           "0.1",
                                           "3.14159265358979323846264338327950288"};
    std::string list;
    for (const auto& number : numbers) {
        list += (list.empty() ? "" : ",") + number;
    }
    std::string expected =
        "{\n  \"mcpServers\" : {\n    \"other\" : {\n      \"timeout\" : " + numbers.front() +
        "\n    }\n  },\n  \"n\" : [\n";
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        expected += "    " + numbers[i] + (i + 1 < numbers.size() ? ",\n" : "\n");
    }
    expected += "  ]\n}";
    const std::string file =
        "{\"n\":[" + list +
        "],\"mcpServers\":{\"parlwick\":{},\"other\":{\"timeout\":" + numbers.front() + "}}}";
    EXPECT_EQ(ConnectorConfig::disconnecting(file), expected);
    const auto connected = ConnectorConfig::connecting(file, "/x", mcp);
    EXPECT_EQ(ConnectorConfig::disconnecting(connected), expected);
}

// `depth` arrays or objects, one inside the other, under the member "a".
std::string nested(std::size_t depth, bool objects) {
    std::string file = "{\"a\":";
    for (std::size_t i = 0; i < depth; ++i) {
        file += objects ? "{\"a\":" : "[";
    }
    file += "1";
    for (std::size_t i = 0; i < depth; ++i) {
        file += objects ? "}" : "]";
    }
    return file + ",\"mcpServers\":{\"parlwick\":{}}}";
}

TEST(ConnectorConfig, FilesNestedBeyondTheLimitAreRefusedWithoutCrashing) {
    for (const bool objects : {false, true}) {
        // The root object is the first level.
        const auto deepest = nested(ConnectorConfig::maxDepth - 1, objects);
        EXPECT_TRUE(ConnectorConfig::isConnected(deepest));
        auto expected = nlohmann::json::parse(deepest);
        expected["mcpServers"] = nlohmann::json::object();
        EXPECT_EQ(nlohmann::json::parse(ConnectorConfig::disconnecting(deepest)), expected);
        for (const std::size_t depth :
             {ConnectorConfig::maxDepth, std::size_t{20'000}, std::size_t{100'000}}) {
            const auto file = nested(depth, objects);
            EXPECT_THROW(ConnectorConfig::connecting(file, "/x", mcp), ConnectorConfig::Unreadable)
                << depth;
            EXPECT_THROW(ConnectorConfig::disconnecting(file), ConnectorConfig::Unreadable)
                << depth;
            // Detection needs only the top levels, so it still answers.
            EXPECT_TRUE(ConnectorConfig::isConnected(file)) << depth;
        }
    }
}

} // namespace
