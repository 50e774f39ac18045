#include "FileError.h"
#include "LogCapture.h"
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "config/Autostart.h"
#include "config/Settings.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

namespace {

// Each test gets its own settings file, where another process of the app would look for it
// with the same config folder.
class SettingsTest : public testing::Test {
  protected:
    std::string probe(const std::vector<std::string>& arguments) {
        std::vector<std::string> command{APP_PROBE};
        command.insert(command.end(), arguments.begin(), arguments.end());
        auto result = runProcess(command, {{"XDG_CONFIG_HOME", config.path().string()}});
        EXPECT_EQ(result.status, 0) << result.err;
        return result.out;
    }
    void store(const std::string& iniBody) { writeAll(file(), "[General]\n" + iniBody); }
    std::filesystem::path file() const { return paths.settings(); }

    TempDir config, data;
    Paths paths{"/opt/parlwick/bin/parlwick", std::nullopt,
                Paths::Homes{config / "home", data.path(), config.path(), config / "state",
                             config / "cache"},
                data.path()};
    Settings settings{paths.settings()};
};

TEST_F(SettingsTest, AFreshUserGetsEveryDefault) {
    EXPECT_EQ(settings.get(SettingKeys::key), std::nullopt);
    EXPECT_EQ(settings.get(SettingKeys::retention), Retention::month);
    EXPECT_FALSE(settings.get(SettingKeys::keepAudio));
    EXPECT_TRUE(settings.get(SettingKeys::playSound));
    EXPECT_FALSE(settings.get(SettingKeys::offersCrashReports));
    EXPECT_EQ(settings.get(SettingKeys::lastCrashReport), std::nullopt);
    EXPECT_FALSE(settings.get(SettingKeys::hasCompletedSetup));
    EXPECT_FALSE(settings.get(SettingKeys::hidesSteps));
    EXPECT_EQ(settings.get(SettingKeys::look), Look::light);
    for (auto group : AppGroups::allCases) {
        EXPECT_EQ(settings.get(SettingKeys::style(group)), WritingStyle::polished);
    }
    EXPECT_FALSE(settings.hasChosenStyle());
    EXPECT_FALSE(settings.profileName().empty()) << "the account's name stands in";
    EXPECT_FALSE(std::filesystem::exists(file())) << "reading must not create the file";
}

TEST_F(SettingsTest, ValuesRoundTripAndTheFileIsPrivate) {
    settings.set(SettingKeys::key, std::optional(HotKey::rightControl));
    settings.set(SettingKeys::retention, Retention::forever);
    settings.set(SettingKeys::keepAudio, true);
    settings.set(SettingKeys::playSound, false);
    settings.set(SettingKeys::look, Look::matchSystem);
    settings.set(SettingKeys::profileName, std::optional<std::string>("Ann Lee"));
    const auto when = Dates::fromReferenceSeconds(789012345.5);
    settings.set(SettingKeys::lastCrashReport, std::optional(when));
    EXPECT_EQ(settings.get(SettingKeys::key), HotKey::rightControl);
    EXPECT_EQ(settings.get(SettingKeys::retention), Retention::forever);
    EXPECT_TRUE(settings.get(SettingKeys::keepAudio));
    EXPECT_FALSE(settings.get(SettingKeys::playSound));
    EXPECT_EQ(settings.get(SettingKeys::look), Look::matchSystem);
    EXPECT_EQ(settings.profileName(), "Ann Lee");
    EXPECT_NEAR(Dates::toReferenceSeconds(*settings.get(SettingKeys::lastCrashReport)), 789012345.5,
                1e-3);
    settings.set(SettingKeys::lastCrashReport, std::optional<Timestamp>());
    EXPECT_EQ(settings.get(SettingKeys::lastCrashReport), std::nullopt);
    EXPECT_EQ(modeOf(file()), 0600u);
}

TEST_F(SettingsTest, UnusableStoredValuesReadAsDefaults) {
    store("retention=weekly\n"
          "key=Right-Option\n"
          "keepAudio=yes\n"
          "playSound=sometimes\n"
          "look=Sepia\n"
          "style-email=shouty\n"
          "lastCrashReport=yesterday\n");
    EXPECT_EQ(settings.get(SettingKeys::retention), Retention::month);
    EXPECT_EQ(settings.get(SettingKeys::key), std::nullopt);
    EXPECT_FALSE(settings.get(SettingKeys::keepAudio));
    EXPECT_TRUE(settings.get(SettingKeys::playSound));
    EXPECT_EQ(settings.get(SettingKeys::look), Look::light);
    EXPECT_EQ(settings.get(SettingKeys::style(AppGroup::email)), WritingStyle::polished);
    EXPECT_TRUE(settings.hasChosenStyle()) << "any style key counts, whatever it holds";
    EXPECT_EQ(settings.get(SettingKeys::lastCrashReport), std::nullopt);
}

TEST_F(SettingsTest, AFileWithLinesItWouldLoseIsNeverRewritten) {
    const struct {
        const char* what;
        std::string bytes;
        const char* logged;
    } rows[] = {
        {"a comment", "[General]\n; mine, keep it\nplaySound=true\n", "line 2 is not a setting"},
        {"a line of something else", "[General]\nplaySound=true\nhello there\n",
         "line 3 is not a setting"},
        {"bytes that are not UTF-8", "[General]\nprofileName=Jos\xe9\n", "it is not UTF-8 text"},
    };
    for (const auto& row : rows) {
        writeAll(file(), row.bytes);
        LogCapture log;
        settings.set(SettingKeys::playSound, false);
        EXPECT_EQ(readAll(file()), row.bytes) << row.what;
        EXPECT_TRUE(log.contains("settings not saved: settings.ini: " + std::string(row.logged)))
            << row.what << ": " << log.text();
    }
    // What QSettings keeps whole is written as before.
    writeAll(file(), "[General]\n\nplaySound=true\n[other]\nkey = value\n");
    settings.set(SettingKeys::playSound, false);
    EXPECT_FALSE(settings.get(SettingKeys::playSound));
    EXPECT_NE(readAll(file()).find("key=value"), std::string::npos) << readAll(file());
}

TEST_F(SettingsTest, TheSpeechModelIsTheStoredOneWhereItFitsTheLanguage) {
    const struct {
        const char* stored; // nullptr: none
        const char* language;
        std::string_view model;
    } cases[] = {
        {nullptr, "en", "ggml-large-v3-turbo-q5_0.bin"},
        {"ggml-small.en-q8_0.bin", "en", "ggml-small.en-q8_0.bin"},
        {"ggml-small.en-q8_0.bin", "de", "ggml-large-v3-turbo-q5_0.bin"},
        {"ggml-small-q8_0.bin", "de", "ggml-small-q8_0.bin"},
        {"ggml-base.en-q8_0.bin", "auto", "ggml-large-v3-turbo-q5_0.bin"},
        {"ggml-tiny.bin", "en", "ggml-large-v3-turbo-q5_0.bin"},
        {"../../etc/passwd", "en", "ggml-large-v3-turbo-q5_0.bin"},
    };
    const SettingsFile file(paths.settings());
    for (const auto& c : cases) {
        file.set(SettingKeys::speechModel,
                 c.stored ? std::optional<std::string>(c.stored) : std::nullopt);
        EXPECT_EQ(file.speechModel(c.language).file, c.model)
            << (c.stored ? c.stored : "none") << " for " << c.language;
    }
}

TEST_F(SettingsTest, AStyleChangesOnlyItsGroup) {
    settings.set(SettingKeys::style(AppGroup::email), WritingStyle::relaxed);
    EXPECT_TRUE(settings.hasChosenStyle());
    EXPECT_EQ(settings.get(SettingKeys::style(AppGroup::email)), WritingStyle::relaxed);
    EXPECT_EQ(settings.get(SettingKeys::style(AppGroup::messages)), WritingStyle::polished);
    EXPECT_NE(readAll(file()).find("style-email=relaxed"), std::string::npos);
}

TEST_F(SettingsTest, AnotherProcessSeesDefaultsAndThenEveryChange) {
    EXPECT_EQ(probe({"settings"}), "key=none\nretention=month\nkeepAudio=0\nplaySound=1\n"
                                   "offersCrashReports=0\nhasCompletedSetup=0\nhidesSteps=0\n"
                                   "look=0\nhasChosenStyle=0\nstyle-messages=polished\n"
                                   "style-work=polished\nstyle-email=polished\n"
                                   "style-other=polished\nlastCrashReport=none\n");

    settings.set(SettingKeys::retention, Retention::day);
    settings.set(SettingKeys::style(AppGroup::work), WritingStyle::lowercase);
    settings.set(SettingKeys::key, std::optional(HotKey::fn));
    const std::string seen = probe({"settings"});
    EXPECT_NE(seen.find("retention=day\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("style-work=lowercase\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("key=fn\n"), std::string::npos) << seen;

    // And the other way round: this process reads what the other one wrote.
    probe({"set", "retention", "off"});
    probe({"set", "playSound", "false"});
    EXPECT_EQ(settings.get(SettingKeys::retention), Retention::off);
    EXPECT_FALSE(settings.get(SettingKeys::playSound));
}

TEST_F(SettingsTest, OpeningAtLoginWritesAndRemovesTheAutostartEntry) {
    EXPECT_FALSE(Autostart::isSet(paths));
    Autostart::set(paths, true);
    ASSERT_TRUE(Autostart::isSet(paths));
    const std::string entry = readAll(paths.autostart());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("Exec=env PARLWICK_AUTOSTART=1 \"" + paths.executable().string() + "\"\n"),
              std::string::npos);
    EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
    Autostart::set(paths, false);
    EXPECT_FALSE(std::filesystem::exists(paths.autostart()));
    EXPECT_NO_THROW(Autostart::set(paths, false)) << "removing twice is fine";
}

TEST_F(SettingsTest, AnEntryFromAnEarlierVersionIsRewrittenWithTheLoginMarker) {
    Autostart::refresh(paths);
    EXPECT_FALSE(Autostart::isSet(paths)) << "no entry: none is made";
    const std::string earlier = "[Desktop Entry]\nType=Application\nName=Dictation\nExec=\"" +
                                paths.executable().string() + "\"\n";
    writeAll(paths.autostart(), earlier);
    Autostart::refresh(paths);
    EXPECT_EQ(readAll(paths.autostart()), Autostart::entry("Dictation", paths.executable()));
    EXPECT_NE(readAll(paths.autostart()).find("Exec=env PARLWICK_AUTOSTART=1 "), std::string::npos);
}

TEST_F(SettingsTest, AnAutostartFolderThatCannotBeMadeThrows) {
    writeAll(config / "autostart", "a file, not a folder");
    EXPECT_THROW(Autostart::set(paths, true), FileError);
}

TEST_F(SettingsTest, EveryChangeIsAnnouncedWithItsKeyAndAnUnchangedValueIsNotWritten) {
    std::vector<QString> changed;
    QObject::connect(&settings, &Settings::changed,
                     [&](const QString& key) { changed.push_back(key); });
    settings.set(SettingKeys::retention, Retention::day);
    settings.set(SettingKeys::style(AppGroup::work), WritingStyle::relaxed);
    settings.set(SettingKeys::lastCrashReport, std::optional<Timestamp>()); // not there
    settings.set(SettingKeys::lastCrashReport, std::optional(Timestamp{}));
    const auto written = std::filesystem::last_write_time(settings.file().path());
    settings.set(SettingKeys::retention, Retention::day);
    settings.set(SettingKeys::lastCrashReport, std::optional(Timestamp{}));
    EXPECT_EQ(std::filesystem::last_write_time(settings.file().path()), written);
    settings.set(SettingKeys::lastCrashReport, std::optional<Timestamp>());
    EXPECT_EQ(changed, (std::vector<QString>{"retention", "style-work", "lastCrashReport",
                                             "lastCrashReport"}));
    // A copy of the file reads the same values, for a worker thread.
    const SettingsFile copy = settings.file();
    EXPECT_EQ(copy.get(SettingKeys::retention), Retention::day);
}

} // namespace
