#include "platform/Paths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(SearchPath, TheInheritedPathComesFirstThenUserAndPackageFolders) {
    EXPECT_EQ(Paths::searchPath("/usr/bin:/bin", "/home/ann", {}),
              "/usr/bin:/bin:/home/ann/.local/bin:/home/ann/.claude/local:/opt/homebrew/bin:"
              "/usr/local/bin");
}

TEST(SearchPath, AnUnsetPathStartsFromTheSystemFolders) {
    EXPECT_EQ(Paths::searchPath(nullptr, "/h", {}),
              "/usr/bin:/bin:/usr/sbin:/sbin:/h/.local/bin:/h/.claude/local:/opt/homebrew/bin:"
              "/usr/local/bin");
}

TEST(SearchPath, NodeVersionsAreNewestFirstComparingNumbersByValue) {
    EXPECT_EQ(Paths::searchPath("/bin", "/h", {"v18.0.0", "v9.9.9", "v20.11.1"}),
              "/bin:/h/.local/bin:/h/.claude/local:/h/.nvm/versions/node/v20.11.1/bin:"
              "/h/.nvm/versions/node/v18.0.0/bin:/h/.nvm/versions/node/v9.9.9/bin:"
              "/opt/homebrew/bin:/usr/local/bin");
}

TEST(SearchPath, ExtendingReadsTheNodeFoldersFromHome) {
    TempDir home;
    std::filesystem::create_directories(home / ".nvm/versions/node/v9.0.0");
    std::filesystem::create_directories(home / ".nvm/versions/node/v20.1.0");
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("PATH", "/usr/bin:/bin", 1);
    Paths::extendSearchPath();
    const std::string expected = "/usr/bin:/bin:" + home.path().string() +
                                 "/.local/bin:" + home.path().string() +
                                 "/.claude/local:" + home.path().string() +
                                 "/.nvm/versions/node/v20.1.0/bin:" + home.path().string() +
                                 "/.nvm/versions/node/v9.0.0/bin:/opt/homebrew/bin:/usr/local/bin";
    EXPECT_EQ(std::getenv("PATH"), expected);
}

TEST(Bundle, AnInstalledTreeWithAnIdentifierIsABundle) {
    TempDir prefix;
    writeAll(prefix / "share/parlwick/bundle.json",
             R"({"CFBundleName":"Parlwick","CFBundleIdentifier":"org.example.x"})");
    const auto bundle = Paths::bundleFor(prefix / "bin/parlwick");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->prefix, prefix.path());
    EXPECT_EQ(bundle->identifier, "org.example.x");
    EXPECT_EQ(bundle->name, "Parlwick");
}

TEST(Bundle, NoFileABadFileOrNoIdentifierIsNoBundle) {
    TempDir prefix;
    EXPECT_FALSE(Paths::bundleFor(prefix / "bin/parlwick"));
    for (const char* info : {"not json", "[]", R"({"CFBundleName":"X"})",
                             R"({"CFBundleIdentifier":7})", R"({"CFBundleIdentifier":""})"}) {
        writeAll(prefix / "share/parlwick/bundle.json", info);
        EXPECT_FALSE(Paths::bundleFor(prefix / "bin/parlwick")) << info;
    }
    writeAll(prefix / "share/parlwick/bundle.json",
             R"({"CFBundleIdentifier":"a.b","CFBundleName":3})");
    ASSERT_TRUE(Paths::bundleFor(prefix / "bin/parlwick"));
    EXPECT_EQ(Paths::bundleFor(prefix / "bin/parlwick")->name, std::nullopt);
}

TEST(Paths, OutsideABundleModelsAndRunsAreInTheWorkingFolder) {
    TempDir data, work;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    std::filesystem::current_path(work.path());
    EXPECT_FALSE(Paths::isApp());
    EXPECT_EQ(Paths::appName(), "Dictation");
    EXPECT_EQ(Paths::support(), data.path() / Paths::AppBundleID);
    EXPECT_EQ(Paths::history(), Paths::support() / "history.jsonl");
    EXPECT_EQ(Paths::vocabulary(), Paths::support() / "words.txt");
    EXPECT_EQ(Paths::models(), work.path() / "models");
    EXPECT_EQ(Paths::runs(), work.path() / "runs.csv");
    EXPECT_EQ(Paths::tool("whisper-server"), "whisper-server");
}

TEST(Paths, XdgFoldersFallBackToHomeWhenUnsetOrRelative) {
    ::setenv("HOME", "/home/ann", 1);
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    ::unsetenv("XDG_STATE_HOME");
    const std::string id(Paths::AppBundleID);
    EXPECT_EQ(Paths::support(), "/home/ann/.local/share/" + id);
    EXPECT_EQ(Paths::settings(), "/home/ann/.config/" + id + "/settings.ini");
    EXPECT_EQ(Paths::autostart(), "/home/ann/.config/autostart/" + id + ".desktop");
    EXPECT_EQ(Paths::crashes(), "/home/ann/.local/state/" + id + "/crashes");
}

} // namespace
