#include "ConnectorConfig.h"
#include "FileError.h"
#include "TestSupport.h"
#include "connector/Connections.h"
#include "platform/AppError.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

class Connections : public testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(home / ".cursor"); }
    std::filesystem::path cursor() const { return home / ".cursor/mcp.json"; }
    TempDir home;
    Paths paths{"/opt/parlwick/bin/parlwick", std::nullopt,
                Paths::Homes{home.path(), home / ".local/share", home / ".config",
                             home / ".local/state", home / ".cache"},
                home.path()};
};

TEST_F(Connections, SettingsFilesLiveWhereEachAppReadsThem) {
    EXPECT_EQ(ConnectedApps::config(ConnectedApp::claudeCode, paths), home / ".claude.json");
    EXPECT_EQ(ConnectedApps::config(ConnectedApp::claude, paths),
              home / ".config/Claude/claude_desktop_config.json");
    EXPECT_EQ(ConnectedApps::config(ConnectedApp::cursor, paths), cursor());
    EXPECT_EQ(ConnectedApps::launch(paths),
              (std::vector<std::string>{paths.executable().string(), "--mcp"}));
}

TEST_F(Connections, ANewFileIsPrivateAndHasNoBackup) {
    ConnectedApps::set(ConnectedApp::cursor, true, paths);
    EXPECT_TRUE(ConnectedApps::isConnected(ConnectedApp::cursor, paths));
    EXPECT_EQ(modeOf(cursor()), 0600u);
    EXPECT_FALSE(std::filesystem::exists(cursor().string() + ".parlwick-backup"));
    EXPECT_EQ(readAll(cursor()), ConnectedApps::copyable(paths));
}

TEST_F(Connections, TheBackupKeepsTheFileFromBeforeTheFirstChangeAndPermissionsStay) {
    const std::string original = R"({"mcpServers":{"other":{"command":"o"}},"keep":true})";
    writeAll(cursor(), original);
    ::chmod(cursor().c_str(), 0644);
    ConnectedApps::set(ConnectedApp::cursor, true, paths);
    ConnectedApps::set(ConnectedApp::cursor, true, paths);
    EXPECT_EQ(readAll(cursor().string() + ".parlwick-backup"), original);
    EXPECT_EQ(modeOf(cursor().string() + ".parlwick-backup"), 0600u);
    EXPECT_EQ(modeOf(cursor()), 0644u);
    const auto now = nlohmann::json::parse(readAll(cursor()));
    EXPECT_EQ(now["keep"], true);
    EXPECT_EQ(now["mcpServers"].size(), 2u);

    ConnectedApps::set(ConnectedApp::cursor, false, paths);
    EXPECT_FALSE(ConnectedApps::isConnected(ConnectedApp::cursor, paths));
    EXPECT_EQ(nlohmann::json::parse(readAll(cursor()))["mcpServers"].size(), 1u);
    EXPECT_EQ(readAll(cursor().string() + ".parlwick-backup"), original);
}

TEST_F(Connections, ALinkedSettingsFileIsEditedAtItsTarget) {
    TempDir dotfiles;
    writeAll(dotfiles / "mcp.json", "{}");
    std::filesystem::create_symlink(dotfiles / "mcp.json", cursor());
    ConnectedApps::set(ConnectedApp::cursor, true, paths);
    EXPECT_TRUE(std::filesystem::is_symlink(cursor()));
    EXPECT_TRUE(ConnectorConfig::isConnected(readAll(dotfiles / "mcp.json")));
    EXPECT_TRUE(std::filesystem::exists(dotfiles / "mcp.json.parlwick-backup"));
}

TEST_F(Connections, AnUnreadableFileIsLeftByteForByte) {
    writeAll(cursor(), "[1, 2, 3]\n");
    EXPECT_THROW(ConnectedApps::set(ConnectedApp::cursor, true, paths),
                 ConnectorConfig::Unreadable);
    EXPECT_EQ(readAll(cursor()), "[1, 2, 3]\n");
    EXPECT_FALSE(std::filesystem::exists(cursor().string() + ".parlwick-backup"));
    EXPECT_FALSE(ConnectedApps::isConnected(ConnectedApp::cursor, paths));
}

TEST_F(Connections, AnAppWhoseFolderIsMissingIsNotInstalledAndNothingIsCreated) {
    try {
        ConnectedApps::set(ConnectedApp::claude, true, paths);
        FAIL() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.description(), "process: not installed");
    }
    EXPECT_FALSE(std::filesystem::exists(home / ".config/Claude"));
}

TEST_F(Connections, ClaudeCodeIsChangedThroughItsOwnCommandLine) {
    // A stand-in `claude` on the search path records how it was called.
    TempDir bin;
    writeAll(bin / "claude",
             "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + (bin / "calls").string() + "'\n");
    ::chmod((bin / "claude").c_str(), 0755);
    ::setenv("PATH", (bin.path().string() + ":/usr/bin:/bin").c_str(), 1);
    ConnectedApps::set(ConnectedApp::claudeCode, true, paths);
    ConnectedApps::set(ConnectedApp::claudeCode, false, paths);
    EXPECT_EQ(readAll(bin / "calls"), "mcp\nadd\n--scope\nuser\nparlwick\n--\n" +
                                          paths.executable().string() +
                                          "\n--mcp\nmcp\nremove\n--scope\nuser\nparlwick\n");

    writeAll(bin / "claude", "#!/bin/sh\necho 'no such server' >&2\nexit 1\n");
    EXPECT_THROW(ConnectedApps::set(ConnectedApp::claudeCode, false, paths), AppError);
}

TEST_F(Connections, DetectionReadsClaudeCodesOwnFile) {
    EXPECT_FALSE(ConnectedApps::isConnected(ConnectedApp::claudeCode, paths));
    writeAll(home / ".claude.json", R"({"mcpServers":{"parlwick":{"type":"stdio"}}})");
    EXPECT_TRUE(ConnectedApps::isConnected(ConnectedApp::claudeCode, paths));
}

// What the pane shows for a failed change of Cursor.
std::string problemChanging(const Paths& paths, bool connected) {
    try {
        ConnectedApps::set(ConnectedApp::cursor, connected, paths);
    } catch (const std::exception& error) {
        return ConnectedApps::problem(ConnectedApp::cursor, error);
    }
    return "no error";
}

TEST_F(Connections, ADanglingOrLoopingLinkCouldNotBeReadAndStaysALink) {
    TempDir dotfiles;
    const std::string unreadable =
        "Cursor's settings file couldn't be read, so nothing was changed.";
    std::filesystem::create_symlink(dotfiles / "missing.json", cursor());
    for (const bool connected : {true, false}) {
        EXPECT_EQ(problemChanging(paths, connected), unreadable);
        EXPECT_TRUE(std::filesystem::is_symlink(cursor()));
        EXPECT_EQ(std::filesystem::read_symlink(cursor()), dotfiles / "missing.json");
        EXPECT_FALSE(std::filesystem::exists(dotfiles / "missing.json"));
    }
    EXPECT_FALSE(ConnectedApps::isConnected(ConnectedApp::cursor, paths));

    std::filesystem::remove(cursor());
    std::filesystem::create_symlink(home / ".cursor/loop.json", cursor());
    std::filesystem::create_symlink(cursor(), home / ".cursor/loop.json");
    EXPECT_EQ(problemChanging(paths, true), unreadable);
    EXPECT_TRUE(std::filesystem::is_symlink(cursor()));
    EXPECT_EQ(std::filesystem::read_symlink(cursor()), home / ".cursor/loop.json");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home / ".cursor"),
                            std::filesystem::directory_iterator()),
              2);
}

TEST_F(Connections, AFileTheUserMadeReadOnlyIsLeftAlone) {
    const std::string original = R"({"mcpServers":{"parlwick":{"command":"old"}}})";
    for (const unsigned mode : {0444u, 0400u, 0555u}) {
        writeAll(cursor(), original);
        ::chmod(cursor().c_str(), mode);
        for (const bool connected : {true, false}) {
            EXPECT_EQ(problemChanging(paths, connected),
                      "Couldn't change Cursor. Is it installed?");
            EXPECT_EQ(readAll(cursor()), original);
            EXPECT_EQ(modeOf(cursor()), mode);
            EXPECT_FALSE(std::filesystem::exists(cursor().string() + ".parlwick-backup"));
        }
        std::filesystem::remove(cursor());
    }
    // Read-only through a link counts at the target; the link itself has no mode of its own.
    TempDir dotfiles;
    writeAll(dotfiles / "mcp.json", original);
    ::chmod((dotfiles / "mcp.json").c_str(), 0444);
    std::filesystem::create_symlink(dotfiles / "mcp.json", cursor());
    EXPECT_THROW(ConnectedApps::set(ConnectedApp::cursor, false, paths), FileError);
    EXPECT_EQ(readAll(dotfiles / "mcp.json"), original);
}

TEST_F(Connections, AnotherAppsNumbersAndDeepFilesSurviveAnEdit) {
    writeAll(cursor(), R"({"big":123456789012345678901234567890,"small":-0,"ratio":1.50})");
    ConnectedApps::set(ConnectedApp::cursor, true, paths);
    const auto text = readAll(cursor());
    EXPECT_NE(text.find("\"big\" : 123456789012345678901234567890,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"small\" : -0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"ratio\" : 1.50,"), std::string::npos) << text;

    const std::string deep = "{\"mcpServers\":{\"parlwick\":{}},\"a\":" + std::string(20'000, '[') +
                             std::string(20'000, ']') + "}";
    writeAll(cursor(), deep);
    EXPECT_EQ(problemChanging(paths, false),
              "Cursor's settings file couldn't be read, so nothing was changed.");
    EXPECT_EQ(readAll(cursor()), deep);
    EXPECT_TRUE(ConnectedApps::isConnected(ConnectedApp::cursor, paths));
}

} // namespace
