// Uninstalling for a real user (nobody, when the tests run as root) in a home of the test's
// own, with a tree installed by cmake --install, connected AI apps and data in every folder.
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "housekeeping/Uninstaller.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string id = "org.parlwick.Parlwick";

class UninstallerTest : public testing::Test {
  protected:
    void SetUp() override {
        if (::getuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || !fs::exists("/usr/bin/setpriv")) {
                GTEST_SKIP() << "running as root without a nobody account or setpriv: "
                                "permissions cannot be tested";
            }
            user = nobody->pw_uid;
            group = nobody->pw_gid;
        }
        fs::permissions(root.path(), fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec);
        fs::create_directories(home);
        fs::create_directories(root / "bin");
        // Claude Code's own command line, as a stand-in that notes how it was called.
        writeAll(root / "bin" / "claude",
                 "#!/bin/sh\necho \"$@\" >> \"" + (root / "calls").string() + "\"\n");
        fs::permissions(root / "bin" / "claude", fs::perms::all);
    }

    // Everything the program keeps, and its entry in the three AI apps beside theirs.
    void fillHome() {
        writeAll(home / ".local/share" / id / "history.jsonl", "{}\n");
        writeAll(home / ".local/share" / id / "models" / "ggml-silero-v5.1.2.bin", "model");
        writeAll(home / ".local/share" / id / "words.txt", "Lovelace\n");
        writeAll(home / ".config" / id / "settings.ini", "[General]\nlook=dark\n");
        writeAll(home / ".config/autostart" / (id + ".desktop"), "[Desktop Entry]\n");
        writeAll(home / ".cache" / id / "thumbnails", "x");
        writeAll(home / ".local/state" / id / "crashes" / "Parlwick-2026-12-09-061000.ips", "r");
        const std::string entry =
            R"({"mcpServers": {"parlwick": {"command": "/x", "args": ["--mcp"]},)"
            R"( "other": {"command": "o"}}, "theme": "dark"})";
        writeAll(home / ".config/Claude/claude_desktop_config.json", entry);
        writeAll(home / ".cursor/mcp.json", entry);
        writeAll(home / ".claude.json", entry);
    }

    void installTree() {
        const auto install = runProcess({"/usr/bin/env", "cmake", "--install", PARLWICK_BUILD_DIR,
                                         "--prefix", prefix.string()});
        ASSERT_EQ(install.status, 0) << install.out << install.err;
    }

    // Runs the uninstall as the user who owns the home.
    ProcessResult uninstall(const fs::path& executable, bool quitsLikeTheApp = false) {
        if (user) {
            runProcess({"/bin/chown", "-R", std::to_string(*user) + ":" + std::to_string(*group),
                        home.string(), (root / "bin").string()});
            runProcess({"/bin/touch", (root / "calls").string()});
            runProcess({"/bin/chown", std::to_string(*user), (root / "calls").string()});
        }
        std::vector<std::string> command;
        if (user) {
            command = {"/usr/bin/setpriv", "--reuid=" + std::to_string(*user),
                       "--regid=" + std::to_string(*group), "--clear-groups", "--"};
        }
        command.insert(command.end(), {UNINSTALL_PROBE, executable.string()});
        return runProcess(command,
                          {{"HOME", home.string()},
                           {"PATH", (root / "bin").string() + ":/usr/bin:/bin"},
                           {"XDG_DATA_HOME", ""},
                           {"XDG_CONFIG_HOME", ""},
                           {"XDG_CACHE_HOME", ""},
                           {"XDG_STATE_HOME", ""},
                           {"ASAN_OPTIONS", "detect_leaks=0"},
                           {"QT_QPA_PLATFORM", "offscreen"},
                           {"UNINSTALL_AND_QUIT", quitsLikeTheApp ? "1" : ""}},
                          root.path().string());
    }

    static nlohmann::json read(const fs::path& file) {
        return nlohmann::json::parse(readAll(file));
    }

    TempDir root;
    const fs::path home = root / "home";
    const fs::path prefix = home / ".local";
    std::optional<uid_t> user;
    std::optional<gid_t> group;
};

TEST_F(UninstallerTest, EverythingGoesAndTheInstalledProgramIsInTheTrash) {
    installTree();
    fillHome();
    ASSERT_TRUE(fs::exists(prefix / "bin" / "parlwick"));

    const auto result = uninstall(prefix / "bin" / "parlwick");

    EXPECT_EQ(result.status, 0) << result.err;
    for (const fs::path& gone :
         {home / ".local/share" / id, home / ".config" / id, home / ".cache" / id,
          home / ".local/state" / id, home / ".config/autostart" / (id + ".desktop"),
          prefix / "bin" / "parlwick", prefix / "share" / "parlwick"}) {
        EXPECT_FALSE(fs::exists(gone)) << gone;
    }
    for (const fs::path& file :
         {home / ".config/Claude/claude_desktop_config.json", home / ".cursor/mcp.json"}) {
        const auto settings = read(file);
        EXPECT_FALSE(settings["mcpServers"].contains("parlwick")) << file;
        EXPECT_TRUE(settings["mcpServers"].contains("other")) << file;
        EXPECT_EQ(settings["theme"], "dark") << file;
    }
    EXPECT_EQ(readAll(root / "calls"), "mcp remove --scope user parlwick\n");

    const fs::path trash = home / ".local/share/Trash";
    std::size_t trashed = 0, infos = 0;
    for (const auto& entry : fs::directory_iterator(trash / "files")) {
        (void)entry;
        ++trashed;
    }
    for (const auto& entry : fs::directory_iterator(trash / "info")) {
        infos += entry.path().extension() == ".trashinfo";
    }
    EXPECT_GE(trashed, 2u) << result.out;
    EXPECT_EQ(infos, trashed);
    EXPECT_NE(result.out.find("trashed " + (prefix / "bin" / "parlwick").string()),
              std::string::npos)
        << result.out;
}

TEST_F(UninstallerTest, AnUndeletableFolderIsReportedAndTheRestStillGoes) {
    fillHome();
    fs::remove(home / ".config/autostart" / (id + ".desktop"));
    fs::remove_all(home / ".cache" / id); // missing: skipped without a word
    const fs::path stuck = home / ".local/share" / id / "models";
    const auto result = [&] {
        if (user) {
            runProcess({"/bin/chown", "-R", std::to_string(*user), home.string()});
        }
        fs::permissions(stuck, fs::perms::owner_read | fs::perms::owner_exec);
        return uninstall(root / "bin" / "parlwick");
    }();

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(
        result.err.find("[Parlwick] uninstall: couldn't remove " + id + ": Permission denied"),
        std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("thumbnails"), std::string::npos);
    EXPECT_EQ(result.err.find(".cache"), std::string::npos);
    EXPECT_TRUE(fs::exists(stuck / "ggml-silero-v5.1.2.bin"));
    EXPECT_FALSE(fs::exists(home / ".config" / id));
    EXPECT_FALSE(fs::exists(home / ".local/state" / id));
    EXPECT_FALSE(read(home / ".cursor/mcp.json")["mcpServers"].contains("parlwick"));
}

TEST_F(UninstallerTest, TheAppsOwnWayEndsTheProcessOnceEverythingIsGone) {
    fillHome();
    const auto result = uninstall(root / "bin" / "parlwick", true);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists(home / ".local/share" / id));
    EXPECT_FALSE(fs::exists(home / ".config" / id));
    EXPECT_FALSE(read(home / ".cursor/mcp.json")["mcpServers"].contains("parlwick"));
}

TEST(UninstallerLists, TheLeftoversAreOursAlone) {
    const Paths paths("/opt/x/bin/parlwick", std::nullopt, Paths::Homes::under("/h"), "/w");
    EXPECT_EQ(Uninstaller::leftovers(paths),
              (std::vector<fs::path>{"/h/data/" + id, "/h/cache/" + id, "/h/state/" + id,
                                     "/h/config/" + id}));
    EXPECT_TRUE(Uninstaller::installedFiles(paths).empty());
}

} // namespace
