// `parlwick --mcp` as an AI app runs it: lines in on standard input, lines out.
#include "ProcessRunner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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

} // namespace
