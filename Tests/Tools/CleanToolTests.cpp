// The built parlwick-clean, run as a user runs it, with its own settings and support folders.
#include "ProcessRunner.h"
#include "StandInModelServer.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <random>

namespace {

class CleanTool : public testing::Test {
  protected:
    // Runs the tool with `input` on standard input.
    ProcessResult clean(const std::string& input, const std::vector<std::string>& arguments = {},
                        const std::string& executable = PARLWICK_CLEAN) {
        writeAll(work / "input", input);
        std::vector<std::string> command{"/bin/sh", "-c", "exec \"$0\" \"$@\" < \"$TOOL_INPUT\"",
                                         executable};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return runProcess(command,
                          {{"XDG_DATA_HOME", data.path().string()},
                           {"XDG_CONFIG_HOME", (data / "config").string()},
                           {"TOOL_INPUT", (work / "input").string()}},
                          work.path().string());
    }

    // The user's own choices, written the way the app writes them.
    SettingsFile settings() const {
        return SettingsFile(data / "config" / Paths::AppBundleID / "settings.ini");
    }
    void chooseStyle(WritingStyle style, AppGroup group) const {
        settings().set(SettingKeys::style(group), style);
    }
    std::filesystem::path snippetsFile() const {
        return data / "org.parlwick.Parlwick/snippets.json";
    }

    TempDir data, work;
};

const std::string sigSnippet =
    R"([{"id":"6F1C2D3E-4B5A-4C6D-8E7F-0A1B2C3D4E5F","phrase":"my sig","text":"Best, Ann."}])";

TEST_F(CleanTool, PrintsTheFinalText) {
    const auto result = clean("um so send it Monday, no, Tuesday.\n");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "So send it Tuesday.\n");
    EXPECT_EQ(result.err, "");

    EXPECT_EQ(clean("um so send it Monday, no, Tuesday.", {"--raw"}).out,
              "Um so send it Monday, no, Tuesday.\n");
    EXPECT_EQ(clean("um so send it Monday, no, Tuesday.", {"--style", "lowercase"}).out,
              "so send it tuesday\n");
    EXPECT_EQ(clean("um my password is new paragraph hunter2", {"--secure"}).out,
              "My password is new paragraph hunter2\n");
    EXPECT_EQ(
        clean("send the notes today", {"--app", "Google Chrome", "--title", "Inbox - Gmail"}).out,
        "Send the notes today.\n");
}

TEST_F(CleanTool, ExplainNamesEveryStage) {
    const auto result = clean("um thanks for the notes new paragraph my sig",
                              {"--app", "Slack", "--style", "relaxed", "--snippets",
                               (work / "s.json").string(), "--explain"});
    ASSERT_EQ(result.status, 1) << "the snippets file does not exist yet";
    writeAll(work / "s.json", sigSnippet);
    const auto explained = clean("um thanks for the notes new paragraph my sig",
                                 {"--app", "Slack", "--style", "relaxed", "--snippets",
                                  (work / "s.json").string(), "--explain"});
    EXPECT_EQ(explained.status, 0) << explained.err;
    EXPECT_EQ(explained.out, "heard     um thanks for the notes new paragraph my sig\n"
                             "writing   chat\n"
                             "group     work\n"
                             "style     relaxed\n"
                             "secure    no\n"
                             "cleaned   yes\n"
                             "chosen    um thanks for the notes new paragraph my sig\n"
                             "usedModel no\n"
                             "refused   no\n"
                             "stripped  Thanks for the notes new paragraph my sig\n"
                             "laidOut   Thanks for the notes\n"
                             "          \n"
                             "          My sig\n"
                             "styled    Thanks for the notes\n"
                             "          \n"
                             "          My sig\n"
                             "final     Thanks for the notes\n"
                             "          \n"
                             "          Best, Ann.\n");
}

TEST_F(CleanTool, UsesTheUsersOwnStyleAndSnippets) {
    chooseStyle(WritingStyle::lowercase, AppGroup::work);
    writeAll(snippetsFile(), sigSnippet);
    EXPECT_EQ(clean("Thanks for the notes, my sig", {"--app", "Slack"}).out,
              "thanks for the notes, Best, Ann.\n");
    // Another group keeps its own style; options override the user's choices.
    EXPECT_EQ(clean("Thanks for the notes, my sig", {"--app", "Some Editor"}).out,
              "Thanks for the notes, Best, Ann.\n");
    writeAll(work / "other.json", "[]");
    EXPECT_EQ(clean("Thanks for the notes, my sig", {"--app", "Slack", "--style", "polished",
                                                     "--snippets", (work / "other.json").string()})
                  .out,
              "Thanks for the notes, my sig\n");
}

TEST_F(CleanTool, AnUnreadableSnippetsFileIsAnErrorNeverIgnored) {
    writeAll(snippetsFile(), "[{\"phrase\": \"no id\"}]");
    auto result = clean("Thanks for the notes, my sig");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("parlwick-clean: couldn't read snippets.json: ", 0), 0u)
        << result.err;

    std::filesystem::remove(snippetsFile());
    std::filesystem::create_directories(snippetsFile());
    result = clean("Thanks for the notes, my sig");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("snippets.json"), std::string::npos) << result.err;

    result = clean("Thanks", {"--snippets", (work / "missing.json").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "parlwick-clean: couldn't read " + (work / "missing.json").string() +
                              ": no such file\n");
}

TEST_F(CleanTool, BadOptionsAndEmptyInput) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--style"}, "--style expects a value after it"},
        {{"--style", "fancy"},
         "fancy is not a writing style; pick one of polished, relaxed or lowercase"},
        {{"--app", "--raw"}, "--app expects a value after it"},
        {{"--loud"}, "--loud is not a recognised option"},
        {{"--jsonl", "--raw"}, "--jsonl takes no other options"},
        {{"--model", "ftp://x"}, "--model ftp://x: Use an http or https address."},
        {{"--model", "http://192.168.1.5:8080/v1"},
         "--model http://192.168.1.5:8080/v1: Use https for a server on another computer."},
        {{"--model", "localhost:11434/v1"},
         "--model localhost:11434/v1: Enter the server's whole address, such as "
         "http://localhost:8080/v1."},
        {{"--model"}, "--model expects a value after it"},
        {{"--model-name", "qwen"}, "--model-name goes with --model"},
        {{"--jsonl", "--model", "http://localhost:11434/v1"}, "--jsonl takes no other options"},
    };
    for (const auto& [arguments, message] : rows) {
        const auto result = clean("hello there", arguments);
        EXPECT_EQ(result.status, 2) << message;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("parlwick-clean: " + message + "\n\nusage: parlwick-clean", 0),
                  0u)
            << result.err;
    }
    const auto help = clean("", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: parlwick-clean", 0), 0u);

    const auto empty = clean(" [BLANK_AUDIO] \n");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.err, "No words found\n");
}

TEST_F(CleanTool, JsonLinesFollowTheInterfaceFieldForField) {
    const std::string input =
        R"({"text":"Send it Monday, no, Tuesday."})"
        "\n"
        R"({"text":"  [BLANK_AUDIO] \n"})"
        "\n"
        "not json\n"
        R"({"text":"sign it with sig","snippets":[{"phrase":"sig","text":"Best, Ann."}],"style":"lowercase","cleanup":false})"
        "\r\n"
        R"({"text":"send the notes today","app":"Google Chrome","title":"Inbox - Gmail","cleanup":false})"
        "\n"
        R"({"text":"um so I I think we should go","candidate":"So I think we should go."})"
        "\n"
        R"({"text":"um so I I think we should go","candidate":"Sure! Let's go.","title":null})"
        "\n"
        R"({"text":"um my password is new paragraph sig","secure":true,"app":"Thunderbird","candidate":null})"
        "\n"
        "\n"
        R"([1,2])"
        "\n"
        R"({"text":7})"
        "\n"
        R"({"text":"x","app":null})"
        "\n"
        R"({"text":"x","style":"fancy"})"
        "\n"
        R"({"text":"x","cleanup":"yes"})"
        "\n"
        R"({"text":"x","snippets":[{"phrase":"a"}]})"
        "\n"
        R"({"text":"x","candidate":3})"
        "\n";
    const std::string expected =
        R"({"heard":"Send it Monday, no, Tuesday.","empty":false,"writing":"other","group":"other","cleaned":true,"chosen":"Send it Tuesday.","usedModel":false,"stripped":"Send it Tuesday.","laidOut":"Send it Tuesday.","styled":"Send it Tuesday.","final":"Send it Tuesday."})"
        "\n"
        R"({"heard":"[BLANK_AUDIO]","empty":true,"writing":null,"group":null,"cleaned":null,"chosen":null,"usedModel":null,"stripped":null,"laidOut":null,"styled":null,"final":null})"
        "\n"
        R"({"error":"not valid JSON at byte 2"})"
        "\n"
        R"({"heard":"sign it with sig","empty":false,"writing":"other","group":"other","cleaned":false,"chosen":"sign it with sig","usedModel":false,"stripped":"sign it with sig","laidOut":"Sign it with sig","styled":"sign it with sig","final":"sign it with Best, Ann."})"
        "\n"
        R"({"heard":"send the notes today","empty":false,"writing":"email","group":"email","cleaned":false,"chosen":"send the notes today","usedModel":false,"stripped":"send the notes today","laidOut":"Send the notes today.","styled":"Send the notes today.","final":"Send the notes today."})"
        "\n"
        R"({"heard":"um so I I think we should go","empty":false,"writing":"other","group":"other","cleaned":true,"chosen":"So I think we should go.","usedModel":true,"stripped":"So I think we should go.","laidOut":"So I think we should go.","styled":"So I think we should go.","final":"So I think we should go."})"
        "\n"
        R"({"heard":"um so I I think we should go","empty":false,"writing":"other","group":"other","cleaned":true,"chosen":"um so I I think we should go","usedModel":false,"stripped":"So I I think we should go","laidOut":"So I I think we should go","styled":"So I I think we should go","final":"So I I think we should go"})"
        "\n"
        R"({"heard":"um my password is new paragraph sig","empty":false,"writing":"email","group":"email","cleaned":true,"chosen":"um my password is new paragraph sig","usedModel":false,"stripped":"My password is new paragraph sig","laidOut":"My password is new paragraph sig","styled":"My password is new paragraph sig","final":"My password is new paragraph sig"})"
        "\n"
        R"({"error":"not valid JSON at byte 1"})"
        "\n"
        R"({"error":"not a JSON object"})"
        "\n"
        R"({"error":"\"text\" must be a string"})"
        "\n"
        R"({"error":"\"app\" must be a string"})"
        "\n"
        R"({"error":"\"style\" must be polished, relaxed or lowercase"})"
        "\n"
        R"({"error":"\"cleanup\" must be true or false"})"
        "\n"
        R"({"error":"\"snippets\" must be an array of objects with string \"phrase\" and \"text\""})"
        "\n"
        R"({"error":"\"candidate\" must be a string or null"})"
        "\n";
    const auto result = clean(input, {"--jsonl"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
}

TEST_F(CleanTool, JsonLinesUseNoneOfTheUsersSettingsOrFiles) {
    chooseStyle(WritingStyle::lowercase, AppGroup::other);
    writeAll(snippetsFile(), "not even json");
    const auto result = clean(R"({"text":"Thanks for the notes, my sig."})", {"--jsonl"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(R"("final":"Thanks for the notes, my sig.")"), std::string::npos)
        << result.out;
}

// One answer a line, whatever the line: a document nested a million deep or a line of 64 MB is
// refused with an error and the next line is read as usual.
TEST_F(CleanTool, JsonLinesSurviveDeepNestingAndLongLines) {
    const std::string tooDeep = R"({"error":"nested more than 100 levels deep"})"
                                "\n";
    const std::string tooLong = R"({"error":"line longer than 4 MB"})"
                                "\n";
    const std::string sent = R"({"text":"Send it.","cleanup":false})";
    const std::string answered =
        R"({"heard":"Send it.","empty":false,"writing":"other","group":"other","cleaned":false,"chosen":"Send it.","usedModel":false,"stripped":"Send it.","laidOut":"Send it.","styled":"Send it.","final":"Send it."})"
        "\n";
    std::string input, expected;
    for (const std::size_t depth : {1000, 70000, 140000, 1000000}) {
        const std::string arrays = std::string(depth, '[') + std::string(depth, ']');
        std::string objects;
        for (std::size_t i = 0; i < depth; ++i) {
            objects += R"({"a":)";
        }
        objects += "1" + std::string(depth, '}');
        for (const std::string& line : {R"({"text":"Send it.","snippets":)" + arrays + "}",
                                        R"({"text":"Send it.","extra":)" + objects + "}",
                                        R"({"text":)" + objects + "}", arrays}) {
            input += line + "\n";
            // Objects a million deep take more than 4 MB to write.
            expected += line.size() > (4 << 20) ? tooLong : tooDeep;
        }
    }
    const auto padded = [](std::size_t length) {
        const std::string head = R"({"text":"Send it.","cleanup":false,"pad":")";
        return head + std::string(length - head.size() - 2, ' ') + "\"}";
    };
    input += padded(4 << 20) + "\n" + padded((4 << 20) + 1) + "\n" + padded(64 << 20) + "\n";
    expected += answered + tooLong + tooLong;
    input += sent + "\n";
    expected += answered;
    const auto result = clean(input, {"--jsonl"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
}

// Deep, long and ordinary lines mixed with a fixed seed: one answer each, in order.
TEST_F(CleanTool, JsonLinesAnswerRandomDeepAndLongLinesOneByOne) {
    std::mt19937 random(1000000);
    const auto nested = [&](std::size_t depth, bool closed) {
        std::string opening, closing;
        for (std::size_t i = 0; i < depth; ++i) {
            const bool object = random() % 2 == 0;
            opening += object ? R"({"k":)" : "[";
            closing += object ? '}' : ']';
        }
        std::reverse(closing.begin(), closing.end());
        return opening + "\"x\"" + (closed ? closing : "");
    };
    const std::string sent = R"({"text":"Send it.","cleanup":false})";
    const std::string answered =
        R"({"heard":"Send it.","empty":false,"writing":"other","group":"other","cleaned":false,"chosen":"Send it.","usedModel":false,"stripped":"Send it.","laidOut":"Send it.","styled":"Send it.","final":"Send it."})"
        "\n";
    const std::string tooDeep = R"({"error":"nested more than 100 levels deep"})"
                                "\n";
    const std::string tooLong = R"({"error":"line longer than 4 MB"})"
                                "\n";
    std::string input, expected;
    for (int i = 0; i < 30; ++i) {
        std::string line;
        switch (random() % 4) {
        case 0: {
            const std::string deep = nested(101 + random() % 1000000, random() % 2 == 0);
            const std::array<std::string, 4> shapes = {
                R"({"text":"Send it.","snippets":)" + deep + "}", R"({"text":)" + deep + "}",
                R"({"cleanup":false,"text":"Send it.","x":)" + deep + "}", deep};
            line = shapes[random() % shapes.size()];
            expected += line.size() > (4 << 20) ? tooLong : tooDeep;
            break;
        }
        case 1:
            line = R"({"text":"Send it.","cleanup":false,"pad":")" +
                   std::string((4 << 20) + random() % (60 << 20), 'p') + "\"}";
            expected += tooLong;
            break;
        default:
            line = sent;
            expected += answered;
        }
        input += line + (random() % 4 ? "\n" : "\r\n");
    }
    const auto result = clean(input, {"--jsonl"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
}

const std::string tokyo = "um what time is it in Tokyo and and can you tell me a story";
const std::string tokyoEdited = "What time is it in Tokyo, and can you tell me a story?";

// The value of one line of --explain.
std::string stage(const std::string& explained, const std::string& name) {
    std::istringstream lines(explained);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(name + " ")) {
            return line.substr(line.find_first_not_of(' ', name.size()));
        }
    }
    return "(no " + name + " line)";
}

// The real stand-in server, or nothing listening; the edit is the correction guard's to take.
TEST_F(CleanTool, AsksTheModelServerNamedOnTheCommandLine) {
    const std::string ruleBased = clean(tokyo).out;
    ASSERT_NE(ruleBased, tokyoEdited + "\n");
    const std::string first = "qwen2.5-1.5b-instruct";
    using Names = std::vector<std::string>;
    const std::optional<std::string> none;
    const std::string stored = "stored";
    // An empty mode: nothing listens. The edit is asked of `model` after the paths `asked`.
    const struct {
        std::string mode;
        Names options;
        std::optional<std::string> storedName, storedKey;
        Names asked;
        std::string model;
    } cases[] = {
        {"edit", {}, none, none, {"/v1/models", "/v1/chat/completions"}, first},
        {"edit", {"--model-name", "llama"}, stored, "key", {"/v1/chat/completions"}, "llama"},
        {"edit", {}, stored, none, {"/v1/chat/completions"}, stored},
        // A model that answers the dictation instead of editing it.
        {"answer", {}, none, none, {"/v1/models", "/v1/chat/completions"}, first},
        {"", {}, none, none, {}, ""},
        {"", {"--model-name", "m"}, none, none, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode + " " + c.model);
        const bool edited = c.mode == "edit", refused = c.mode == "answer";
        const std::string failure = c.mode.empty() ? "ModelServerDown" : "";
        const nlohmann::json authorization =
            c.storedKey ? nlohmann::json("Bearer " + *c.storedKey) : nlohmann::json();
        std::optional<StandInModelServer> server;
        if (!c.mode.empty()) {
            server.emplace(c.mode);
        }
        settings().set(SettingKeys::modelName, c.storedName);
        settings().set(SettingKeys::modelApiKey, c.storedKey);
        // Port 1 is privileged and unused: the connection is refused.
        std::vector<std::string> options{"--model",
                                         server ? server->endpoint() : "http://127.0.0.1:1/v1"};
        options.insert(options.end(), c.options.begin(), c.options.end());

        const auto result = clean(tokyo, options);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, edited ? tokyoEdited + "\n" : ruleBased);
        EXPECT_EQ(result.err, failure.empty()
                                  ? ""
                                  : "[parlwick-clean] on-device cleanup failed: " + failure + "\n");
        if (server) {
            const auto requests = server->requests();
            std::vector<std::string> paths;
            for (const auto& request : requests) {
                paths.push_back(request["path"]);
                EXPECT_EQ(request["authorization"], authorization);
            }
            EXPECT_EQ(paths, c.asked);
            ASSERT_FALSE(requests.empty());
            EXPECT_EQ(requests.back()["body"]["model"], c.model);
        }

        options.push_back("--explain");
        const auto explained = clean(tokyo, options);
        EXPECT_EQ(stage(explained.out, "usedModel"), edited ? "yes" : "no") << explained.out;
        EXPECT_EQ(stage(explained.out, "refused"), refused ? "yes" : "no") << explained.out;
    }
}

// Without --model the tool asks what the app asks: nothing unless tidying with a model is on, and
// a server on another computer only once the user agreed to it.
TEST_F(CleanTool, WithoutAModelOptionFollowsTheSettings) {
    const StandInModelServer server("edit");
    // Nothing listens here, so a request that went out shows as a failure.
    const std::string elsewhere = "https://0.0.0.0:1/v1";
    const std::string notice =
        "parlwick-clean: the dictation is sent to " + elsewhere + ", on another computer\n";
    const std::string failed = "[parlwick-clean] on-device cleanup failed: ";
    const struct {
        bool tidy;
        std::string endpoint;
        std::optional<std::string> allowed;
        bool edited;
        std::string err;
    } cases[] = {
        {false, server.endpoint(), std::nullopt, false, ""},
        {true, server.endpoint(), std::nullopt, true, ""},
        {true, elsewhere, std::nullopt, false, ""},
        {true, elsewhere, elsewhere, false, notice + failed},
    };
    settings().set(SettingKeys::modelName, std::optional<std::string>("stored"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoint + (c.tidy ? " on" : " off"));
        settings().set(SettingKeys::tidyWithModel, c.tidy);
        settings().set(SettingKeys::modelEndpoint, std::optional<std::string>(c.endpoint));
        settings().set(SettingKeys::modelEndpointAllowed, c.allowed);
        const auto before = server.requests().size();
        const auto result = clean(tokyo);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out == tokyoEdited + "\n", c.edited) << result.out;
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(result.err.empty(), c.err.empty()) << result.err;
        EXPECT_EQ(result.err.find("Tokyo"), std::string::npos) << result.err;
        EXPECT_EQ(server.requests().size() - before, c.edited ? 1u : 0u);
    }

    // Typed on the command line, a server elsewhere is the user's own choice, and said aloud.
    settings().set(SettingKeys::tidyWithModel, false);
    const auto typed = clean(tokyo, {"--model", elsewhere});
    EXPECT_EQ(typed.status, 0);
    EXPECT_EQ(typed.out, clean(tokyo).out);
    EXPECT_EQ(typed.err.rfind(notice + failed, 0), 0u) << typed.err;
    // Nothing is sent when no cleanup runs.
    EXPECT_EQ(clean(tokyo, {"--model", elsewhere, "--raw"}).err, "");
}

// Installed beside the app, from the same build.
TEST_F(CleanTool, IsInstalledBesideTheApp) {
    TempDir prefix;
    const auto install = runProcess({"/usr/bin/env", "cmake", "--install", PARLWICK_BUILD_DIR,
                                     "--prefix", prefix.path().string()});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    ASSERT_TRUE(std::filesystem::exists(prefix / "bin/parlwick"));
    const auto result =
        clean("um so send it Monday, no, Tuesday.", {}, (prefix / "bin/parlwick-clean").string());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "So send it Tuesday.\n");
}

} // namespace
