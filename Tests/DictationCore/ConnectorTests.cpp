#include "Connector.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>

namespace {

using Json = nlohmann::json;

Dictation dictation(std::string app, std::string text, Outcome outcome, double date,
                    std::optional<std::string> corrected = std::nullopt) {
    Dictation d;
    d.id = Uuid::generate();
    d.date = Dates::fromReferenceSeconds(date);
    d.seconds = 1.5;
    d.app = std::move(app);
    d.outcome = outcome;
    d.text = std::move(text);
    d.heard = d.text;
    d.corrected = std::move(corrected);
    d.totalMs = 300;
    return d;
}

Note note(std::string text, double date) {
    Note n;
    n.id = Uuid::generate();
    n.date = Dates::fromReferenceSeconds(date);
    n.text = std::move(text);
    return n;
}

// 2025-03-04T09:15:00Z and one hour earlier, as seconds since 2001.
constexpr double nine15 = 762772500;
constexpr double eight15 = nine15 - 3600;

class ConnectorTest : public testing::Test {
  protected:
    Connector connector{[this] {
                            if (failHistory) {
                                throw std::runtime_error("unreadable");
                            }
                            return history;
                        },
                        [this] { return notes; }};
    std::vector<Dictation> history{
        dictation("Visual Studio Code", "refactor the parser", Outcome::typed, nine15),
        dictation("Mail", "", Outcome::failed, nine15 - 60),
        dictation("Slack", "lunch at noon", Outcome::typed, eight15, "lunch at one"),
    };
    std::vector<Note> notes{note("", nine15), note("Buy milk\nand eggs", eight15)};
    bool failHistory = false;

    Json ask(const std::string& line) {
        auto reply = connector.reply(line);
        EXPECT_TRUE(reply) << line;
        return reply ? Json::parse(*reply) : Json();
    }
    std::string call(const std::string& tool, const Json& arguments) {
        const Json request{{"jsonrpc", "2.0"},
                           {"id", 7},
                           {"method", "tools/call"},
                           {"params", {{"name", tool}, {"arguments", arguments}}}};
        const Json reply = ask(request.dump());
        EXPECT_FALSE(reply["result"].contains("isError")) << reply.dump();
        return reply["result"]["content"][0]["text"];
    }
};

TEST_F(ConnectorTest, InitializeNegotiatesTheProtocolVersion) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {R"({"protocolVersion":"2024-11-05"})", "2024-11-05"},
        {R"({"protocolVersion":"2025-03-26"})", "2025-03-26"},
        {R"({"protocolVersion":"2023-01-01"})", "2025-06-18"},
        {R"({"protocolVersion":5})", "2025-06-18"},
        {R"({})", "2025-06-18"},
    };
    for (const auto& [params, version] : rows) {
        const Json reply =
            ask(R"({"jsonrpc":"2.0","id":"a","method":"initialize","params":)" + params + "}");
        EXPECT_EQ(reply["id"], "a");
        EXPECT_EQ(reply["result"]["protocolVersion"], version) << params;
        EXPECT_EQ(reply["result"]["serverInfo"], (Json{{"name", "parlwick"}, {"version", "1.0"}}));
        EXPECT_EQ(reply["result"]["capabilities"], (Json{{"tools", Json::object()}}));
    }
}

TEST_F(ConnectorTest, RepliesAreCompactSortedAndKeepTheIdAsSent) {
    EXPECT_EQ(*connector.reply(R"({"method":"ping","id":"a/b","jsonrpc":"2.0"})"),
              R"({"id":"a/b","jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(*connector.reply(R"({"method":"nope","id":3})"),
              R"({"error":{"code":-32601,"message":"Unknown method"},"id":3,"jsonrpc":"2.0"})");
    EXPECT_EQ(connector.reply(R"({"method":"notifications/initialized"})"), std::nullopt);
    EXPECT_EQ(connector.reply(R"({"method":"nope"})"), std::nullopt) << "no id, no reply";
}

// Numbers come back in the client's own spelling, even where no 64-bit or floating-point value
// could hold them; an id that is neither a string, a number nor null makes the request invalid.
TEST_F(ConnectorTest, IdsAreScalarsEchoedExactlyAsWritten) {
    for (const std::string id :
         {"123456789012345678901234567890", "-123456789012345678901234567890", "-0", "0", "-0.0",
          "1.50", "1E3", "-9223372036854775808", "18446744073709551615", "18446744073709551616",
          "\"x\"", "\"\"", "null"}) {
        EXPECT_EQ(connector.reply(R"({"method":"ping","id":)" + id + "}"),
                  R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":{}})")
            << id;
        EXPECT_EQ(connector.reply(R"({"id" : )" + id + R"( ,"method":"nope"})"),
                  R"({"error":{"code":-32601,"message":"Unknown method"},"id":)" + id +
                      R"(,"jsonrpc":"2.0"})")
            << id;
    }
    const std::string parseError =
        R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})";
    for (const std::string id : {"[]", "[1]", "{}", R"({"x":[1,"/"]})", "true", "false"}) {
        EXPECT_EQ(connector.reply(R"({"method":"ping","id":)" + id + "}"), parseError) << id;
    }
    // The last of repeated members counts, as it did when the whole line was read first.
    EXPECT_EQ(connector.reply(R"({"method":"ping","id":[1],"id":2})"),
              R"({"id":2,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(connector.reply(R"({"method":"ping","id":2,"id":{}})"), parseError);
}

// Lines nested this deep overflowed the stack when the request was copied or printed.
TEST_F(ConnectorTest, DeepNestingAnywhereIsInvalidInput) {
    const std::string parseError =
        R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})";
    const auto nested = [](std::size_t depth, bool objects) {
        std::string text;
        text.reserve(depth * 6 + 2);
        for (std::size_t i = 0; i < depth; ++i) {
            text += objects ? R"({"a":)" : "[";
        }
        text += "1";
        for (std::size_t i = 0; i < depth; ++i) {
            text += objects ? '}' : ']';
        }
        return text;
    };
    for (const std::size_t depth : {1000, 70000, 140000, 1000000}) {
        for (const bool objects : {false, true}) {
            const std::string deep = nested(depth, objects);
            for (
                const std::string& line : {
                    R"({"jsonrpc":"2.0","method":"ping","id":)" + deep + "}",
                    R"({"id":1,"method":"tools/list","params":)" + deep + "}",
                    R"({"id":1,"method":"tools/call","params":{"name":"search_notes","arguments":)" +
                        deep + "}}",
                    R"({"id":1,"method":"tools/call","params":{"name":"search_notes","arguments":{"query":)" +
                        deep + "}}}",
                    R"({"id":1,"method":"ping","other":)" + deep + "}",
                    R"({"method":"notifications/initialized","params":)" + deep + "}",
                    deep,
                }) {
                EXPECT_EQ(connector.reply(line), parseError)
                    << depth << (objects ? " objects in " : " arrays in ") << line.substr(0, 80);
            }
        }
    }
}

TEST_F(ConnectorTest, NestingIsBoundedAtAFixedDepth) {
    // The request object is the first level; "arguments" the third.
    const auto line = [](int depth) {
        std::string deep = "1";
        for (int i = 3; i < depth; ++i) {
            deep = "[" + deep + "]";
        }
        return R"({"id":1,"method":"tools/call","params":{"name":"search_notes","arguments":{"x":)" +
               deep + "}}}";
    };
    const Json deepest = ask(line(Connector::maxDepth));
    EXPECT_EQ(deepest["result"]["content"][0]["text"],
              "[2025-03-04T08:15:00Z]\nBuy milk\nand eggs");
    EXPECT_EQ(ask(line(Connector::maxDepth + 1))["error"]["code"], -32700);
}

// Window classes are set by any program on the display; the client shows the text as it is.
TEST_F(ConnectorTest, AppNamesCannotCarryControlCharactersIntoReplies) {
    history = {dictation("Term\x1b]0;owned\x07\xe2\x80\xaeStack\r\nFake\tApp\u0085\u2066x\u2069",
                         "ls -la", Outcome::typed, nine15)};
    EXPECT_EQ(call("search_dictations", {{"query", "stack"}}),
              "[2025-03-04T09:15:00Z] Term ]0;owned  Stack  Fake App  x : ls -la");
}

TEST_F(ConnectorTest, AnythingButARequestGetsTheParseError) {
    const std::string parseError =
        R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})";
    for (const std::string line :
         {" ", "{", "[]", "{}", "42", R"({"id":1,"result":{}})", R"({"id":1,"method":5})",
          "{\"id\":1,\"method\":\"ping\xff\"}"}) {
        EXPECT_EQ(connector.reply(line), parseError) << line;
    }
}

TEST_F(ConnectorTest, ToolsListHasBothReadOnlyToolsInOrder) {
    const Json tools = ask(R"({"id":1,"method":"tools/list"})")["result"]["tools"];
    ASSERT_EQ(tools.size(), 2u);
    EXPECT_EQ(tools[0]["name"], "search_dictations");
    EXPECT_EQ(tools[0]["description"],
              "Search the user's past dictations, newest first. Leave query empty for the latest.");
    EXPECT_EQ(tools[1]["name"], "search_notes");
    EXPECT_EQ(tools[1]["description"],
              "Search the user's scratchpad notes. Leave query empty for all.");
    for (const auto& tool : tools) {
        EXPECT_EQ(tool["annotations"], (Json{{"readOnlyHint", true}}));
        EXPECT_EQ(tool["inputSchema"],
                  Json::parse(R"({"type":"object","properties":{"query":{"type":"string"},)"
                              R"("limit":{"type":"integer","minimum":1,"maximum":100}}})"));
    }
}

TEST_F(ConnectorTest, DictationsAreTypedOnesNewestFirstWithTheirFinalText) {
    EXPECT_EQ(call("search_dictations", Json::object()),
              "[2025-03-04T09:15:00Z] Visual Studio Code: refactor the parser\n\n"
              "[2025-03-04T08:15:00Z] Slack: lunch at one");
    EXPECT_EQ(call("search_dictations", {{"query", "  \tSTUDIO "}}),
              "[2025-03-04T09:15:00Z] Visual Studio Code: refactor the parser");
    EXPECT_EQ(call("search_dictations", {{"query", "noon"}}), "No dictations found.")
        << "the corrected text replaces the original";
    EXPECT_EQ(call("search_dictations", {{"query", "mail"}}), "No dictations found.")
        << "failed dictations are never found";
}

TEST_F(ConnectorTest, LimitsAreClampedAndOnlyIntegersCount) {
    history.clear();
    for (int i = 0; i < 130; ++i) {
        history.push_back(
            dictation("App", "item " + std::to_string(i), Outcome::typed, nine15 - i));
    }
    const auto count = [](const std::string& text) {
        std::size_t n = 1, at = 0;
        while ((at = text.find("\n\n", at)) != std::string::npos) {
            ++n, at += 2;
        }
        return n;
    };
    EXPECT_EQ(count(call("search_dictations", Json::object())), 20u);
    EXPECT_EQ(count(call("search_dictations", {{"limit", 0}})), 1u);
    EXPECT_EQ(count(call("search_dictations", {{"limit", -5}})), 1u);
    EXPECT_EQ(count(call("search_dictations", {{"limit", 500}})), 100u);
    EXPECT_EQ(count(call("search_dictations", {{"limit", "7"}})), 20u);
    EXPECT_EQ(count(call("search_dictations", {{"limit", 18446744073709551615ull}})), 100u);
    EXPECT_EQ(count(call("search_dictations", {{"limit", 3}})), 3u);
}

TEST_F(ConnectorTest, NotesSkipEmptyOnesAndSearchTheirText) {
    EXPECT_EQ(call("search_notes", Json::object()), "[2025-03-04T08:15:00Z]\nBuy milk\nand eggs");
    EXPECT_EQ(call("search_notes", {{"query", "EGGS"}}),
              "[2025-03-04T08:15:00Z]\nBuy milk\nand eggs");
    EXPECT_EQ(call("search_notes", {{"query", "bread"}}), "No notes found.");
    notes.clear();
    EXPECT_EQ(call("search_notes", Json::object()), "No notes found.");
}

TEST_F(ConnectorTest, UnknownToolsAndUnreadableDataAnswerAsDefined) {
    EXPECT_EQ(*connector.reply(R"({"id":2,"method":"tools/call","params":{"name":"rm"}})"),
              R"({"error":{"code":-32602,"message":"Unknown tool"},"id":2,"jsonrpc":"2.0"})");
    EXPECT_EQ(*connector.reply(R"({"id":2,"method":"tools/call"})"),
              R"({"error":{"code":-32602,"message":"Unknown tool"},"id":2,"jsonrpc":"2.0"})");
    failHistory = true;
    EXPECT_EQ(
        *connector.reply(R"({"id":2,"method":"tools/call","params":{"name":"search_dictations"}})"),
        R"({"id":2,"jsonrpc":"2.0","result":{"content":[{"text":"Couldn't read the saved data.","type":"text"}],"isError":true}})");
}

TEST_F(ConnectorTest, ThousandsOfMalformedLinesGetAValidReplyOrNone) {
    std::mt19937 random(20261208);
    const std::vector<std::string> pieces = {"{",
                                             "}",
                                             "[",
                                             "]",
                                             "\"method\"",
                                             ":",
                                             ",",
                                             "\"id\"",
                                             "1",
                                             "-1e999",
                                             "null",
                                             "\"tools/call\"",
                                             "\"params\"",
                                             "{\"name\":\"search_notes\"}",
                                             "\"arguments\"",
                                             "\"limit\"",
                                             "99999999999999999999",
                                             "\"query\"",
                                             "\"\\ud800\"",
                                             "\xff",
                                             "\xc3",
                                             "true",
                                             " ",
                                             "\"initialize\"",
                                             "\"ping\""};
    for (int i = 0; i < 3000; ++i) {
        std::string line;
        const int length = 1 + static_cast<int>(random() % 24);
        for (int j = 0; j < length; ++j) {
            line += pieces[random() % pieces.size()];
        }
        const auto reply = connector.reply(line);
        if (!reply) {
            continue;
        }
        const Json parsed = Json::parse(*reply, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << line;
        EXPECT_EQ(parsed["jsonrpc"], "2.0");
        EXPECT_TRUE(parsed.contains("id"));
        EXPECT_NE(parsed.contains("result"), parsed.contains("error")) << *reply;
    }
    // Deep nesting and a line of megabytes.
    EXPECT_TRUE(connector.reply(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_TRUE(
        connector.reply(R"({"id":1,"method":"ping","pad":")" + std::string(4 << 20, 'x') + "\"}"));
}

} // namespace
