#pragma once

#include "Dates.h"
#include "HotKey.h"
#include "Retention.h"
#include "SpeechModels.h"
#include "WritingContext.h"
#include "WritingStyle.h"

#include <QObject>
#include <QString>
#include <QVariant>
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Appearance of the main window, by index: "Light", "Dark", "Match system".
enum class Look { light, dark, matchSystem };

// One key of the settings file: its name, and what it reads as while missing or holding
// something unusable. An optional value is removed from the file by storing nothing.
template <typename Value> struct Setting {
    std::string_view name;
    Value fallback;
};

// Every key the program keeps, with its type and default.
namespace SettingKeys {

// Nothing: the key the command line chose.
inline constexpr Setting<std::optional<HotKey>> key{"key", std::nullopt};
inline constexpr Setting<Retention> retention{"retention", Retention::month};
inline constexpr Setting<bool> keepAudio{"keepAudio", false};
// True unless a boolean false is stored.
inline constexpr Setting<bool> playSound{"playSound", true};
inline constexpr Setting<bool> offersCrashReports{"offersCrashReports", false};
inline constexpr Setting<std::optional<Timestamp>> lastCrashReport{"lastCrashReport", std::nullopt};
// A daily check of the update feed, when the installed app has one.
inline constexpr Setting<bool> checksForUpdates{"checksForUpdates", true};
inline constexpr Setting<bool> hasCompletedSetup{"hasCompletedSetup", false};
// On Wayland, read the record key from the keyboard devices (it needs the input group).
inline constexpr Setting<bool> readInputDevices{"readInputDevices", false};
inline constexpr Setting<bool> hidesSteps{"hidesSteps", false};
// The speech engine's threads; 0 (or anything outside 1 to 64): one per physical core, at most 8.
inline constexpr Setting<int> speechThreads{"speechThreads", 0};
// The speech model's file; nothing until the first launch measured this computer (a file the
// catalog does not list reads as its standard model).
inline constexpr Setting<std::optional<std::string>> speechModel{"speechModel", std::nullopt};
// What each model's 5 s dictation took here when last measured (SpeechModels::encodeTimings).
inline constexpr Setting<std::optional<std::string>> speechTimings{"speechTimings", std::nullopt};
inline constexpr Setting<Look> look{"look", Look::light};
// Nothing: the account's full name.
inline constexpr Setting<std::optional<std::string>> profileName{"profileName", std::nullopt};
// The main window's frame as Qt saves it, in base64.
inline constexpr Setting<std::optional<std::string>> mainWindowFrame{"main-window", std::nullopt};
// The on-device edit through a model server the user runs: off unless turned on.
inline constexpr Setting<bool> tidyWithModel{"tidyWithModel", false};
// The server's OpenAI-compatible API; nothing: Ollama's address on this computer.
inline constexpr Setting<std::optional<std::string>> modelEndpoint{"modelEndpoint", std::nullopt};
inline constexpr Setting<std::optional<std::string>> modelName{"modelName", std::nullopt};
// Sent as a bearer token; stored only when the user gives one (the file is private).
inline constexpr Setting<std::optional<std::string>> modelApiKey{"modelApiKey", std::nullopt};
// An endpoint off this computer that the user agreed to send dictations to; any other such
// endpoint is never asked.
inline constexpr Setting<std::optional<std::string>> modelEndpointAllowed{"modelEndpointAllowed",
                                                                          std::nullopt};

inline constexpr std::array<std::string_view, 4> styleNames{"style-messages", "style-work",
                                                            "style-email", "style-other"};
// "style-" + the group's raw value.
constexpr Setting<WritingStyle> style(AppGroup group) {
    return {styleNames[static_cast<std::size_t>(group)], WritingStyle::polished};
}

} // namespace SettingKeys

// The settings file (INI). Parsed once and again only when the file changed on disk, so a
// change made by another process of the app counts at the next read. A value: any thread may
// read through a copy of it, and copies share what was parsed.
class SettingsFile {
  public:
    explicit SettingsFile(std::filesystem::path file);

    const std::filesystem::path& path() const { return file_; }

    template <typename Value> Value get(const Setting<Value>& key) const;
    // Writes the file, creating it private (mode 0600) when it is new; false when the file
    // already held the value, or could not be written.
    template <typename Value> bool set(const Setting<Value>& key, const Value& value) const;
    bool contains(std::string_view name) const;

    // Any "style-" key present, whatever it holds.
    bool hasChosenStyle() const;
    // The stored profile name, else the account's full name.
    std::string profileName() const;
    // The catalog's entry for the stored speech model when it transcribes `language`, else
    // the standard model.
    const SpeechModels::Model& speechModel(std::string_view language) const;

  private:
    struct Parsed;
    QVariant value(std::string_view name) const;

    std::filesystem::path file_;
    std::shared_ptr<Parsed> parsed_;
};

// The settings for the main thread: reads like the file, and announces every change made
// through it, naming the key, for the views that follow a setting.
class Settings : public QObject {
    Q_OBJECT
  public:
    explicit Settings(std::filesystem::path file, QObject* parent = nullptr)
        : QObject(parent), file_(std::move(file)) {}

    const SettingsFile& file() const { return file_; }

    template <typename Value> Value get(const Setting<Value>& key) const { return file_.get(key); }
    template <typename Value> void set(const Setting<Value>& key, const Value& value) {
        if (file_.set(key, value)) {
            emit changed(
                QString::fromUtf8(key.name.data(), static_cast<qsizetype>(key.name.size())));
        }
    }
    bool hasChosenStyle() const { return file_.hasChosenStyle(); }
    std::string profileName() const { return file_.profileName(); }

  signals:
    void changed(const QString& key);

  private:
    SettingsFile file_;
};

// The record key: a valid key stored under "key", else the command line's (always the command
// line's without settings, as in terminal mode). `choose` is its one writer; views follow
// `changed`.
class RecordKey : public QObject {
    Q_OBJECT
  public:
    RecordKey(HotKey commandLine, Settings* settings, QObject* parent = nullptr);

    static HotKey stored(HotKey commandLine, const SettingsFile& settings) {
        return settings.get(SettingKeys::key).value_or(commandLine);
    }
    HotKey value() const {
        return settings_ ? stored(commandLine_, settings_->file()) : commandLine_;
    }
    void choose(HotKey key);

  signals:
    void changed();

  private:
    HotKey commandLine_;
    Settings* settings_;
};
