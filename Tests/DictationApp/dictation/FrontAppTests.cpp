#include "FakeFocusProbe.h"
#include "FakeWindowProbe.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "desktop/DesktopEntries.h"
#include "dictation/FrontApp.h"
#include "dictation/Terminals.h"

#include <gtest/gtest.h>

namespace {

using DesktopEntries::Program;

class DesktopEntriesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
        ::setenv("LANG", "C.UTF-8", 1);
        entry(user, "org.example.Writer",
              "Name=Writer\nName[de]=Schreiber\nName[de_AT]=Schreiberling\n"
              "Exec=/opt/writer/bin/writer-bin --new %F\n");
        entry(
            user, "mail",
            "Name=Mail Client\nStartupWMClass=Thunderbird-like\nExec=env GDK_BACKEND=x11 mailer\n");
        entry(user, "gone", "Name=Gone\nHidden=true\nStartupWMClass=Gone\n");
        entry(user, "link", "Name=A Link\nStartupWMClass=Linky\n", "Link");
        entry(system, "mail", "Name=Older Mail\nStartupWMClass=Thunderbird-like\n");
        entry(system, "python3.11", "Name=Python (v3.11)\nExec=python3.11\n");
        entry(system, "vendor/tool", "Name=Vendor Tool\n");
    }

    void entry(const TempDir& folder, const std::string& id, const std::string& body,
               const std::string& type = "Application") {
        writeAll(folder / ("applications/" + id + ".desktop"),
                 "# a comment\n[Desktop Entry]\nType=" + type + "\n" + body +
                     "\n[Desktop Action new]\nName=Not this\n");
    }

    std::optional<std::string> name(const Program& program) {
        return DesktopEntries::displayName(program,
                                           {user / "applications", system / "applications"});
    }

    TempDir user;
    TempDir system;
};

TEST_F(DesktopEntriesTest, TheEntryIsFoundByWindowClassFileNameOrProgram) {
    struct Case {
        const char* why;
        Program program;
        std::optional<std::string> name;
    };
    const std::vector<Case> cases{
        {"StartupWMClass, the first folder winning",
         {"mail", "Thunderbird-like", ""},
         "Mail Client"},
        {"the file name, any case", {"", "MAIL", ""}, "Mail Client"},
        {"the last part of a reverse-DNS file name", {"writer", "Writer", ""}, "Writer"},
        {"a file name in a subfolder", {"", "vendor-tool", ""}, "Vendor Tool"},
        {"the program an Exec line starts", {"x", "Y", "writer-bin"}, "Writer"},
        {"the program after env and its variables", {"x", "Y", "mailer"}, "Mail Client"},
        {"an interpreter names nothing", {"x", "Y", "python3.11"}, std::nullopt},
        {"hidden entries are deleted ones", {"", "Gone", ""}, std::nullopt},
        {"only applications count", {"", "Linky", ""}, std::nullopt},
        {"nothing fits", {"", "", ""}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(name(c.program), c.name) << c.why;
    }
}

TEST_F(DesktopEntriesTest, TheNameFollowsTheUsersLanguage) {
    const Program writer{"", "org.example.Writer", ""};
    const std::vector<std::pair<const char*, const char*>> cases{
        {"de_DE.UTF-8", "Schreiber"},
        {"de_AT.UTF-8@euro", "Schreiberling"},
        {"fr_FR.UTF-8", "Writer"},
    };
    for (const auto& [locale, expected] : cases) {
        ::setenv("LANG", locale, 1);
        EXPECT_EQ(name(writer), expected) << locale;
    }
    ::setenv("LC_MESSAGES", "de_DE", 1);
    ::setenv("LANG", "fr_FR", 1);
    EXPECT_EQ(name(writer), "Schreiber");
}

TEST_F(DesktopEntriesTest, ANewEntryIsSeenWithoutRestarting) {
    const Program notes{"", "Notes", ""};
    EXPECT_EQ(name(notes), std::nullopt);
    entry(user, "notes", "Name=Notes\n");
    EXPECT_EQ(name(notes), "Notes");
}

TEST(DesktopEntries, FoldersFollowTheXdgVariables) {
    ::setenv("XDG_DATA_HOME", "/home/u/data", 1);
    ::setenv("XDG_DATA_DIRS", "/a:/b/", 1);
    EXPECT_EQ(DesktopEntries::folders(),
              (std::vector<std::filesystem::path>{"/home/u/data/applications", "/a/applications",
                                                  "/b//applications"}));
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_DATA_DIRS");
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(DesktopEntries::folders(),
              (std::vector<std::filesystem::path>{"/home/u/.local/share/applications",
                                                  "/usr/local/share/applications",
                                                  "/usr/share/applications"}));
}

TEST(Terminals, TheWindowClassChoosesHowToPaste) {
    const std::vector<std::pair<const char*, PasteMethod>> cases{
        {"Gnome-terminal", PasteMethod::ctrlShiftV},
        {"konsole", PasteMethod::ctrlShiftV},
        {"KONSOLE", PasteMethod::ctrlShiftV},
        {"st-256color", PasteMethod::ctrlShiftV},
        {"kitty", PasteMethod::ctrlShiftV},
        {"XTerm", PasteMethod::typing},
        {"URxvt", PasteMethod::typing},
        {"Gedit", PasteMethod::ctrlV},
        {"", PasteMethod::ctrlV},
        {"konsole2", PasteMethod::ctrlV},
    };
    for (const auto& [windowClass, method] : cases) {
        EXPECT_EQ(Terminals::pasteMethod(windowClass), method) << windowClass;
    }
}

TEST(FrontApp, OnlyABrowsersTitleIsRead) {
    FakeWindowProbe windows;
    windows.front.reset();
    windows.windowTitle = "Inbox - Mail";
    std::vector<std::string> asked;
    const auto browsers = [&](std::string_view name) {
        asked.emplace_back(name);
        return name == "ünïcode browser";
    };
    EXPECT_EQ(FrontApp::front(windows, browsers), FrontApp::Front{});
    windows.front = FrontWindow{1, "", "Nameless", std::nullopt};
    EXPECT_EQ(FrontApp::front(windows, browsers).appName, "unknown app");
    EXPECT_EQ(windows.titleReads, 0);

    windows.front->appName = "Editor";
    EXPECT_EQ(FrontApp::front(windows, browsers), (FrontApp::Front{"Editor", std::nullopt}));
    windows.front->appName = "ÜNÏCODE Browser";
    EXPECT_EQ(FrontApp::front(windows, browsers),
              (FrontApp::Front{"ÜNÏCODE Browser", "Inbox - Mail"}));
    EXPECT_EQ(asked, (std::vector<std::string>{"editor", "ünïcode browser"}));
    EXPECT_EQ(windows.titleReads, 1);
}

TEST(FrontApp, ANameWithControlsOrDirectionOverridesIsMadePrintable) {
    FakeWindowProbe windows;
    const auto none = [](std::string_view) { return false; };
    windows.front->appName = "Notes\n2026-01-01T00:00:00Z forged line";
    EXPECT_EQ(FrontApp::front(windows, none).appName, "Notes 2026-01-01T00:00:00Z forged line");
    windows.front->appName = "gpj.\u202Eexe";
    EXPECT_EQ(FrontApp::capture(windows).appName, "gpj. exe");
    windows.front->appName = "\x1b\n\u202E";
    EXPECT_EQ(FrontApp::front(windows, none).appName, "unknown app") << "nothing printable left";
}

TEST(FrontApp, SecretWhenAPasswordFieldHasFocusOrTheKeyboardIsGrabbed) {
    struct Case {
        bool element, password, grabbed, secure;
        int grabTests;
    };
    const std::vector<Case> cases{
        {true, true, false, true, 0}, // a password field needs no grab test
        {true, false, false, false, 1}, {true, false, true, true, 1},
        {false, false, true, true, 1},  {false, false, false, false, 1},
    };
    for (const auto& c : cases) {
        FakeWindowProbe windows;
        windows.grabbed = c.grabbed;
        FakeFocusProbe focus;
        if (!c.element) {
            focus.focused.reset();
        }
        if (c.password) {
            focus.secure.insert(1);
        }
        EXPECT_EQ(FrontApp::isSecure(windows, focus), c.secure);
        EXPECT_EQ(windows.grabTests, c.grabTests);
    }
}

} // namespace
