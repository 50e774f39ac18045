// The tree `cmake --install` lays out, as a desktop and a software centre read it: a valid
// desktop entry that starts the installed program, the icons at every size, valid AppStream
// metadata with its screenshot caption and privacy promise, and the bundle the app reads.
#include "ProcessRunner.h"
#include "TestSupport.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const std::string id = "org.parlwick.Parlwick";

// Width and height from a PNG's header chunk.
std::pair<std::uint32_t, std::uint32_t> pngSize(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 24> head{};
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    if (!in || head[1] != 'P' || head[2] != 'N' || head[3] != 'G') {
        return {0, 0};
    }
    const auto number = [&head](std::size_t at) {
        return std::uint32_t(head[at]) << 24 | std::uint32_t(head[at + 1]) << 16 |
               std::uint32_t(head[at + 2]) << 8 | std::uint32_t(head[at + 3]);
    };
    return {number(16), number(20)};
}

class InstalledTree : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        tree = new TempDir;
        install = runProcess(
            {"/usr/bin/env", "cmake", "--install", PARLWICK_BUILD_DIR, "--prefix", prefix()});
    }
    // Checked in each case: a failure in the suite's set-up would only show as a skip.
    void SetUp() override { ASSERT_EQ(install.status, 0) << install.out << install.err; }
    static void TearDownTestSuite() {
        delete tree;
        tree = nullptr;
    }
    static std::string prefix() { return (tree->path() / "usr-local").string(); }
    static fs::path share() { return fs::path(prefix()) / "share"; }

    static inline TempDir* tree = nullptr;
    static inline ProcessResult install;
};

TEST_F(InstalledTree, TheDesktopEntryIsValidAndStartsTheInstalledProgram) {
    const fs::path entry = share() / "applications" / (id + ".desktop");
    const auto valid = runProcess({"/usr/bin/env", "desktop-file-validate", entry.string()});
    EXPECT_EQ(valid.status, 0) << valid.out << valid.err;
    EXPECT_EQ(valid.out + valid.err, "") << "not even a hint";

    const std::string text = readAll(entry);
    const fs::path program = fs::path(prefix()) / "bin" / "parlwick";
    EXPECT_NE(text.find("\nExec=" + program.string() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=" + id + "\n"), std::string::npos) << text;
    EXPECT_EQ(::access(program.c_str(), X_OK), 0);
    const auto help = runProcess({program.string(), "--help"});
    EXPECT_EQ(help.status, 0) << help.err;
}

TEST_F(InstalledTree, TheIconIsThereAtEverySizeInTheHicolorTheme) {
    const fs::path hicolor = share() / "icons" / "hicolor";
    EXPECT_NE(readAll(hicolor / "scalable" / "apps" / (id + ".svg")).find("<svg"),
              std::string::npos);
    for (std::uint32_t size : {16u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const fs::path png =
            hicolor / (std::to_string(size) + "x" + std::to_string(size)) / "apps" / (id + ".png");
        EXPECT_EQ(pngSize(png), std::make_pair(size, size)) << png;
    }
}

TEST_F(InstalledTree, TheAppStreamMetadataIsValidAndKeepsThePrivacyPromise) {
    const fs::path metainfo = share() / "metainfo" / (id + ".metainfo.xml");
    const auto valid =
        runProcess({"/usr/bin/env", "appstreamcli", "validate", "--no-net", metainfo.string()});
    EXPECT_EQ(valid.status, 0) << valid.out << valid.err;
    const std::string text = readAll(metainfo);
    EXPECT_NE(text.find("<id>" + id + "</id>"), std::string::npos);
    EXPECT_NE(text.find("<launchable type=\"desktop-id\">" + id + ".desktop</launchable>"),
              std::string::npos);
    EXPECT_NE(text.find("<caption>"), std::string::npos);
    EXPECT_NE(text.find("nothing you say ever leaves the computer"), std::string::npos);
}

TEST_F(InstalledTree, TheBundleNamesTheAppItsVersionAndWhereReportsGo) {
    const auto bundle = nlohmann::json::parse(readAll(share() / "parlwick" / "bundle.json"));
    EXPECT_EQ(bundle["CFBundleName"], "Parlwick");
    EXPECT_EQ(bundle["CFBundleIdentifier"], id);
    EXPECT_EQ(bundle["CFBundleShortVersionString"], PARLWICK_VERSION);
    EXPECT_FALSE(bundle["SupportIssuesURL"].get<std::string>().empty());
    for (const char* tool : {"parlwick-clean", "parlwick-models"}) {
        EXPECT_EQ(::access((fs::path(prefix()) / "bin" / tool).c_str(), X_OK), 0) << tool;
    }
}

} // namespace
