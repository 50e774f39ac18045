#include "TestSupport.h"
#include "platform/Paths.h"

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
    ::setenv("PATH", "/usr/bin:/bin", 1);
    Paths::extendSearchPath(home.path());
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
    TempDir root;
    const Paths paths(root / "build/parlwick", Paths::bundleFor(root / "build/parlwick"),
                      Paths::Homes::under(root.path()), root / "work");
    EXPECT_FALSE(paths.isApp());
    EXPECT_EQ(paths.appName(), "Dictation");
    EXPECT_EQ(paths.support(), root / "data" / Paths::AppBundleID);
    EXPECT_EQ(paths.history(), paths.support() / "history.jsonl");
    EXPECT_EQ(paths.vocabulary(), paths.support() / "words.txt");
    EXPECT_EQ(paths.models(), root / "work/models");
    EXPECT_EQ(paths.runs(), root / "work/runs.csv");
    EXPECT_EQ(paths.tool("whisper-server"), "whisper-server");
}

TEST(Paths, AnInstalledTreeKeepsEverythingInTheSupportFolderAndHasItsHelpers) {
    TempDir root;
    writeAll(root / "prefix/share/parlwick/bundle.json",
             R"({"CFBundleName":"Parlwick","CFBundleIdentifier":"org.example.x"})");
    writeAll(root / "prefix/libexec/parlwick/whisper-server", "#!/bin/sh\n");
    std::filesystem::permissions(root / "prefix/libexec/parlwick/whisper-server",
                                 std::filesystem::perms::owner_all);
    writeAll(root / "prefix/libexec/parlwick/whisper-vad-speech-segments", "not executable");
    const auto executable = root / "prefix/bin/parlwick";
    const Paths paths(executable, Paths::bundleFor(executable), Paths::Homes::under(root.path()),
                      root / "work");
    EXPECT_TRUE(paths.isApp());
    EXPECT_EQ(paths.appName(), "Parlwick");
    EXPECT_EQ(paths.models(), paths.support() / "models");
    EXPECT_EQ(paths.runs(), paths.support() / "runs.csv");
    EXPECT_EQ(paths.tool("whisper-server"), root / "prefix/libexec/parlwick/whisper-server");
    EXPECT_EQ(paths.tool("whisper-vad-speech-segments"), "whisper-vad-speech-segments")
        << "a helper the user may not execute is left to the search path";
}

TEST(Paths, XdgFoldersFallBackToHomeWhenUnsetOrRelative) {
    ::setenv("HOME", "/home/ann", 1);
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("XDG_CACHE_HOME", "/var/cache/ann", 1);
    const Paths paths("/usr/bin/parlwick", std::nullopt, Paths::Homes::fromEnvironment(), "/");
    const std::string id(Paths::AppBundleID);
    EXPECT_EQ(paths.support(), "/home/ann/.local/share/" + id);
    EXPECT_EQ(paths.settings(), "/home/ann/.config/" + id + "/settings.ini");
    EXPECT_EQ(paths.autostart(), "/home/ann/.config/autostart/" + id + ".desktop");
    EXPECT_EQ(paths.crashes(), "/home/ann/.local/state/" + id + "/crashes");
    EXPECT_EQ(paths.cache(), "/var/cache/ann/" + id);
}

} // namespace
