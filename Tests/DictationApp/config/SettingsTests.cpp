#include "platform/Paths.h"
#include "ProcessRunner.h"
#include "config/Settings.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

// Each test gets its own settings file, fixed before the first read.
class SettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    }
    std::string probe(const std::vector<std::string>& arguments) {
        std::vector<std::string> command{APP_PROBE};
        command.insert(command.end(), arguments.begin(), arguments.end());
        auto result = runProcess(command, {{"XDG_CONFIG_HOME", config.path().string()}});
        EXPECT_EQ(result.status, 0) << result.err;
        return result.out;
    }
    void store(const std::string& iniBody) { writeAll(Paths::settings(), "[General]\n" + iniBody); }

    TempDir config, data;
};

TEST_F(SettingsTest, AFreshUserGetsEveryDefault) {
    EXPECT_EQ(Settings::key(), std::nullopt);
    EXPECT_EQ(Settings::retention(), Retention::month);
    EXPECT_FALSE(Settings::keepAudio());
    EXPECT_TRUE(Settings::playSound());
    EXPECT_FALSE(Settings::offersCrashReports());
    EXPECT_EQ(Settings::lastCrashReport(), std::nullopt);
    EXPECT_FALSE(Settings::hasCompletedSetup());
    EXPECT_FALSE(Settings::hidesSteps());
    EXPECT_EQ(Settings::look(), Settings::Look::light);
    for (auto group : AppGroups::allCases) {
        EXPECT_EQ(Settings::style(group), WritingStyle::polished);
    }
    EXPECT_FALSE(Settings::hasChosenStyle());
    EXPECT_FALSE(Settings::profileName().empty()) << "the account's name stands in";
    EXPECT_FALSE(std::filesystem::exists(Paths::settings())) << "reading must not create the file";
}

TEST_F(SettingsTest, ValuesRoundTripAndTheFileIsPrivate) {
    Settings::setKey(HotKey::rightControl);
    Settings::setRetention(Retention::forever);
    Settings::setKeepAudio(true);
    Settings::setPlaySound(false);
    Settings::setLook(Settings::Look::matchSystem);
    Settings::setProfileName("Ann Lee");
    const auto when = Dates::fromReferenceSeconds(789012345.5);
    Settings::setLastCrashReport(when);
    EXPECT_EQ(Settings::key(), HotKey::rightControl);
    EXPECT_EQ(Settings::retention(), Retention::forever);
    EXPECT_TRUE(Settings::keepAudio());
    EXPECT_FALSE(Settings::playSound());
    EXPECT_EQ(Settings::look(), Settings::Look::matchSystem);
    EXPECT_EQ(Settings::profileName(), "Ann Lee");
    EXPECT_NEAR(Dates::toReferenceSeconds(*Settings::lastCrashReport()), 789012345.5, 1e-3);
    Settings::setLastCrashReport(std::nullopt);
    EXPECT_EQ(Settings::lastCrashReport(), std::nullopt);
    EXPECT_EQ(modeOf(Paths::settings()), 0600u);
}

TEST_F(SettingsTest, UnusableStoredValuesReadAsDefaults) {
    store("retention=weekly\n"
          "key=Right-Option\n"
          "keepAudio=yes\n"
          "playSound=sometimes\n"
          "look=Sepia\n"
          "style-email=shouty\n"
          "lastCrashReport=yesterday\n");
    EXPECT_EQ(Settings::retention(), Retention::month);
    EXPECT_EQ(Settings::key(), std::nullopt);
    EXPECT_FALSE(Settings::keepAudio());
    EXPECT_TRUE(Settings::playSound());
    EXPECT_EQ(Settings::look(), Settings::Look::light);
    EXPECT_EQ(Settings::style(AppGroup::email), WritingStyle::polished);
    EXPECT_TRUE(Settings::hasChosenStyle()) << "any style key counts, whatever it holds";
    EXPECT_EQ(Settings::lastCrashReport(), std::nullopt);
}

TEST_F(SettingsTest, AStyleChangesOnlyItsGroup) {
    Settings::setStyle(WritingStyle::relaxed, AppGroup::email);
    EXPECT_TRUE(Settings::hasChosenStyle());
    EXPECT_EQ(Settings::style(AppGroup::email), WritingStyle::relaxed);
    EXPECT_EQ(Settings::style(AppGroup::messages), WritingStyle::polished);
    EXPECT_NE(readAll(Paths::settings()).find("style-email=relaxed"), std::string::npos);
}

TEST_F(SettingsTest, AnotherProcessSeesDefaultsAndThenEveryChange) {
    EXPECT_EQ(probe({"settings"}), "key=none\nretention=month\nkeepAudio=0\nplaySound=1\n"
                                   "offersCrashReports=0\nhasCompletedSetup=0\nhidesSteps=0\n"
                                   "look=0\nhasChosenStyle=0\nstyle-messages=polished\n"
                                   "style-work=polished\nstyle-email=polished\n"
                                   "style-other=polished\nlastCrashReport=none\n");

    Settings::setRetention(Retention::day);
    Settings::setStyle(WritingStyle::lowercase, AppGroup::work);
    Settings::setKey(HotKey::fn);
    const std::string seen = probe({"settings"});
    EXPECT_NE(seen.find("retention=day\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("style-work=lowercase\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("key=fn\n"), std::string::npos) << seen;

    // And the other way round: this process reads what the other one wrote.
    probe({"set", "retention", "off"});
    probe({"set", "playSound", "false"});
    EXPECT_EQ(Settings::retention(), Retention::off);
    EXPECT_FALSE(Settings::playSound());
}

TEST_F(SettingsTest, OpeningAtLoginWritesAndRemovesTheAutostartEntry) {
    EXPECT_FALSE(Settings::opensAtLogin());
    Settings::setOpensAtLogin(true);
    ASSERT_TRUE(Settings::opensAtLogin());
    const std::string entry = readAll(Paths::autostart());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("Exec=\"" + Paths::executable().string() + "\"\n"), std::string::npos);
    EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
    Settings::setOpensAtLogin(false);
    EXPECT_FALSE(std::filesystem::exists(Paths::autostart()));
    EXPECT_NO_THROW(Settings::setOpensAtLogin(false)) << "removing twice is fine";
}

TEST_F(SettingsTest, AnAutostartFolderThatCannotBeMadeThrows) {
    writeAll(config / "autostart", "a file, not a folder");
    EXPECT_THROW(Settings::setOpensAtLogin(true), FileError);
}

} // namespace
