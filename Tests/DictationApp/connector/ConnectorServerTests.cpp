// `parlwick --mcp` as an AI app runs it: lines in on standard input, lines out.
#include "ProcessRunner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>

namespace {

class ConnectorServer : public testing::Test {
  protected:
    ProcessResult serve(const std::string& input, std::vector<std::string> arguments = {"--mcp"}) {
        arguments.insert(arguments.begin(), PARLWICK_EXECUTABLE);
        return runProcess(arguments,
                          {{"XDG_DATA_HOME", (home / "data").string()},
                           {"XDG_CONFIG_HOME", (home / "config").string()},
                           {"DISPLAY", ""}},
                          home.path().string(), input);
    }
    std::filesystem::path support() const { return home / "data/org.parlwick.Parlwick"; }
    TempDir home;
};

TEST_F(ConnectorServer, AnswersLineByLineAndEndsWithItsInput) {
    const auto result = serve("\n"
                              "   \n"
                              "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\r\n"
                              "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n"
                              "{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"tools/call\","
                              "\"params\":{\"name\":\"search_dictations\"}}");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(
        result.out,
        "{\"error\":{\"code\":-32700,\"message\":\"Parse "
        "error\"},\"id\":null,\"jsonrpc\":\"2.0\"}\n"
        "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n"
        "{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"No dictations found.\","
        "\"type\":\"text\"}]}}\n");
    EXPECT_EQ(result.err, "") << "the server logs nothing";
    EXPECT_FALSE(std::filesystem::exists(support())) << "the server never writes";
}

TEST_F(ConnectorServer, StartsFromAnyPositionOfTheFlagWithoutADisplay) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--bogus", "--mcp"}, {"--mcp", "--help"}, {"--key", "nonsense", "--mcp"}}) {
        const auto result = serve("{\"id\":1,\"method\":\"ping\"}\n", arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
    }
}

TEST_F(ConnectorServer, ReadsTheHistoryWrittenByTheAppAndSkipsDamagedLines) {
    writeAll(support() / "history.jsonl",
             "{\"id\":\"00000000-0000-4000-8000-000000000001\",\"date\":1e9,\"seconds\":1.0,"
             "\"app\":\"Kate\",\"outcome\":\"typed\",\"text\":\"far future entry\",\"heard\":\"x\","
             "\"totalMs\":5}\n"
             "{not json\n");
    const auto result =
        serve("{\"id\":1,\"method\":\"tools/call\",\"params\":{\"name\":\"search_dictations\"}}\n");
    const auto reply = nlohmann::json::parse(result.out);
    EXPECT_EQ(reply["result"]["content"][0]["text"],
              "[2032-09-09T01:46:40Z] Kate: far future entry");
}

TEST_F(ConnectorServer, HugeAndBrokenLinesDoNotStopIt) {
    std::string input = std::string(8 << 20, '{') + "\n";
    input += "\xff\xfe\n";
    input += std::string(200000, '[') + "\n";
    input += "{\"id\":9,\"method\":\"ping\"}\n";
    const auto result = serve(input);
    EXPECT_EQ(result.status, 0);
    const std::string parseError = "{\"error\":{\"code\":-32700,\"message\":\"Parse "
                                   "error\"},\"id\":null,\"jsonrpc\":\"2.0\"}\n";
    EXPECT_EQ(result.out, parseError + parseError + parseError +
                              "{\"id\":9,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
}

const std::string parseError =
    "{\"error\":{\"code\":-32700,\"message\":\"Parse error\"},\"id\":null,\"jsonrpc\":\"2.0\"}\n";

std::string pong(const std::string& id) {
    return "{\"id\":" + id + ",\"jsonrpc\":\"2.0\",\"result\":{}}\n";
}

// A ping line of exactly `length` bytes, padded with an unused member.
std::string pingOfLength(std::size_t length, const std::string& id) {
    const std::string head = "{\"id\":" + id + ",\"method\":\"ping\",\"pad\":\"";
    return head + std::string(length - head.size() - 2, 'x') + "\"}";
}

// Well-formed requests too: only the length counts.
TEST_F(ConnectorServer, LinesOverFourMegabytesAreAnsweredOnceAsInvalid) {
    constexpr std::size_t limit = 4 << 20;
    const auto result = serve(pingOfLength(limit, "1") + "\n" + pingOfLength(limit + 1, "2") +
                              "\r\n" + pingOfLength(64 << 20, "3") + "\n\n" +
                              pingOfLength(limit, "4") + "\r\n" + pingOfLength(limit + 1, "5"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, pong("1") + parseError + parseError + pong("4") + parseError);
    EXPECT_EQ(result.err, "");
}

TEST_F(ConnectorServer, DeepIdsParamsAndArgumentsAreInvalidInput) {
    std::string input;
    std::string expected;
    for (const std::size_t depth : {1000, 70000, 140000, 1000000}) {
        const std::string deep = std::string(depth, '[') + std::string(depth, ']');
        input += "{\"id\":" + deep + ",\"method\":\"ping\"}\n";
        input += "{\"id\":1,\"method\":\"tools/call\",\"params\":" + deep + "}\n";
        input += "{\"id\":1,\"method\":\"tools/call\",\"params\":{\"name\":\"search_notes\","
                 "\"arguments\":{\"query\":\"a\",\"b\":" +
                 deep + "}}}\n";
        expected += parseError + parseError + parseError;
    }
    input += "{\"id\":123456789012345678901234567890,\"method\":\"ping\"}\n";
    expected += pong("123456789012345678901234567890");
    const auto result = serve(input);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected);
}

// Arrays and objects mixed at random, `depth` levels around a number; unclosed if `open`.
std::string nested(std::mt19937& random, std::size_t depth, bool open) {
    std::string opening, closing;
    for (std::size_t i = 0; i < depth; ++i) {
        const bool object = random() % 2 == 0;
        opening += object ? "{\"k\":" : "[";
        closing += object ? '}' : ']';
    }
    std::reverse(closing.begin(), closing.end());
    return opening + "1" + (open ? "" : closing);
}

// One stream of deep, long, blank and ordinary lines with a fixed seed: each line gets its own
// answer, in order, and the server reads on to the end.
TEST_F(ConnectorServer, RandomDeepAndLongLinesGetOneAnswerEach) {
    std::mt19937 random(64 << 20);
    std::string input, expected;
    for (int i = 0; i < 30; ++i) {
        const std::string id = std::to_string(i);
        switch (random() % 5) {
        case 0: {
            const std::size_t depth = 101 + random() % 1000000;
            const std::string deep = nested(random, depth, false);
            input += random() % 2
                         ? "{\"id\":" + id + ",\"method\":\"ping\",\"params\":" + deep + "}"
                         : "{\"method\":\"ping\",\"id\":" + deep + "}";
            expected += parseError;
            break;
        }
        case 1:
            input += nested(random, 101 + random() % 1000000, true);
            expected += parseError;
            break;
        case 2:
            input += pingOfLength((4 << 20) + 1 + random() % (60 << 20), id);
            expected += parseError;
            break;
        case 3:
            input += random() % 2 ? "" : "\r";
            break;
        default:
            input += pingOfLength(40 + random() % (64 << 10), id);
            expected += pong(id);
        }
        input += random() % 4 ? "\n" : "\r\n";
    }
    input += "{\"id\":\"last\",\"method\":\"ping\"}";
    expected += pong("\"last\"");
    const auto result = serve(input);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
}

} // namespace
