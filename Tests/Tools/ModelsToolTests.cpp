// The built parlwick-models, run the way setup.sh and a packager run it. The real model files
// cannot be had here, so what it keeps is tested with the downloader; this covers what the tool
// itself says and decides.
#include "HttpServers.h"
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const std::string vadPath = "ggml-org/whisper-vad/resolve/main/ggml-silero-v5.1.2.bin";
const std::string speechPath = "ggerganov/whisper.cpp/resolve/main/ggml-large-v3-turbo-q5_0.bin";

class ModelsTool : public testing::Test {
  protected:
    ProcessResult run(const std::vector<std::string>& arguments,
                      const std::string& executable = PARLWICK_MODELS) {
        std::vector<std::string> command{executable};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return runProcess(
            command, {{"HOME", home.path().string()}, {"XDG_DATA_HOME", (home / "data").string()}},
            work.path().string());
    }

    // An address on this computer where nothing listens.
    static std::string closedAddress() {
        TempDir scratch;
        writeAll(scratch / "file", "x");
        ScriptedServer gone(ScriptedServer::Mode::notFound, scratch / "file");
        return gone.address();
    }

    static void serveWrongFiles(const WebServer& server) {
        for (const auto& path : {vadPath, speechPath}) {
            writeAll(server.root() / path, "not a model");
            fs::permissions(server.root() / path,
                            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                            fs::perm_options::add);
        }
    }

    TempDir home, work;
};

TEST_F(ModelsTool, WithoutANetworkItSaysWhereEachFileBelongsAndGivesUp) {
    const std::string base = closedAddress();
    const auto result =
        run({"--from", base, "--into", (work / "models").string(), "--patience", "2"});

    EXPECT_EQ(result.status, 3) << result.out << result.err;
    EXPECT_NE(result.err.find("download interrupted, retrying: "), std::string::npos) << result.err;
    for (const auto& path : {vadPath, speechPath}) {
        const std::string name = fs::path(path).filename().string();
        EXPECT_NE(result.out.find("Could not download " + name), std::string::npos) << result.out;
        EXPECT_NE(result.out.find((work / "models" / name).string()), std::string::npos);
        EXPECT_NE(result.out.find(base + "/" + path), std::string::npos);
    }
    EXPECT_NE(result.out.find("29940d98d42b91fbd05ce489f3ecf7c72f0a42f027e4875919a28fb4c04ea2cf"),
              std::string::npos);
}

TEST_F(ModelsTool, AFileThatIsNotTheModelFailsWithItsNameAndLeavesNothing) {
    WebServer server;
    serveWrongFiles(server);
    const auto result = run({"--from", server.address()});

    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_NE(result.err.find("parlwick-models: process: ggml-silero-v5.1.2.bin did not download "
                              "correctly"),
              std::string::npos)
        << result.err;
    // Without an installed tree the models go to the working folder, as for terminal mode.
    EXPECT_TRUE(fs::is_directory(work / "models"));
    EXPECT_TRUE(fs::is_empty(work / "models"));
}

TEST_F(ModelsTool, CheckRemovesAPresentFileThatDoesNotMatch) {
    writeAll(work / "models" / "ggml-silero-v5.1.2.bin", "an old, broken copy");
    const auto result = run({"--check", "--from", closedAddress(), "--patience", "1"});

    EXPECT_EQ(result.status, 3) << result.out << result.err;
    EXPECT_NE(result.out.find("does not match its SHA-256"), std::string::npos) << result.out;
    EXPECT_FALSE(fs::exists(work / "models" / "ggml-silero-v5.1.2.bin"));
}

TEST_F(ModelsTool, AnInstalledTreeNamesItsOwnModelHost) {
    WebServer server;
    serveWrongFiles(server);
    const fs::path prefix = home / "prefix";
    fs::create_directories(prefix / "bin");
    fs::copy_file(PARLWICK_MODELS, prefix / "bin" / "parlwick-models");
    writeAll(prefix / "share" / "parlwick" / "bundle.json",
             R"({"CFBundleName": "Parlwick", "CFBundleIdentifier": "org.parlwick.Parlwick",)"
             R"( "ModelsBaseURL": ")" +
                 server.address() + R"("})");

    const auto result = run({}, (prefix / "bin" / "parlwick-models").string());

    EXPECT_EQ(result.status, 1) << result.out << result.err;
    eventually([&] { return !server.requests().empty(); }, 5);
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests[0].find("/" + vadPath), std::string::npos) << requests[0];
    // The installed app's models folder is in the user's support folder.
    EXPECT_TRUE(fs::is_directory(home / "data" / std::string(Paths::AppBundleID) / "models"));
    EXPECT_FALSE(fs::exists(work / "models"));
}

TEST_F(ModelsTool, AnAddressItMayNotFetchIsABadUsage) {
    for (const std::string base : {"http://example.com", "not an address"}) {
        const auto result = run({"--from", base});
        EXPECT_EQ(result.status, 2) << base;
        EXPECT_NE(result.err.find("parlwick-models: " + base + ": "), std::string::npos)
            << result.err;
    }
    EXPECT_EQ(run({"--patience", "0"}).status, 2);
    EXPECT_FALSE(fs::exists(work / "models"));
}

} // namespace
