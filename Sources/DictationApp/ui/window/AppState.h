#pragma once

#include "HotKey.h"
#include "config/Settings.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "ui/window/Profile.h"
#include "ui/window/Sections.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class HistoryStore;
class LocalModel;
class DictationState;
class ModelChoice;
class NoteStore;
class SnippetStore;
class Updates;
class VoiceTest;
class WordStore;

// What the windows work with besides what they show: the stores, the settings, what start-up
// made for them, and the commands they can give. Made once by start-up, which outlives them;
// each screen takes the parts it needs.
struct AppParts {
    HistoryStore& history;
    WordStore& words;
    SnippetStore& snippets;
    NoteStore& notes;
    Settings& settings;
    Paths paths;
    std::shared_ptr<const Clock> clock;
    Scheduler& scheduler;
    // None where the app has no such part (terminal-built tests, a build without a feed).
    VoiceTest* voiceTest = nullptr;
    ModelChoice* modelChoice = nullptr;
    Updates* updates = nullptr;
    LocalModel* localModel = nullptr;
    // Deletes the history, recordings, timings and totals.
    std::function<void()> deleteAll = [] {};
    // Removes every trace of the program and quits.
    std::function<void()> uninstall = [] {};
    // Quits the app (the window's Ctrl+Q).
    std::function<void()> quit = [] {};
    // Where the speech engine recognises speech, for the Voice tab.
    std::function<std::string()> speechDevice = [] { return std::string(); };
};

// What the windows show of the running app: the record key, the status text, whether dictation
// is ready, the section and settings tab showing, the look, the profile and what dictation is
// doing. Lives on the main thread; the section and tab outlive the window, which may close and
// reopen.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(bool isReady READ isReady WRITE setReady NOTIFY readyChanged)
    Q_PROPERTY(bool hasTray READ hasTray WRITE setHasTray NOTIFY hasTrayChanged)

  public:
    AppState(RecordKey& key, Settings& settings, const DictationState& dictation,
             QObject* parent = nullptr);

    HotKey key() const { return key_.value(); }
    void setKey(HotKey key) { key_.choose(key); }

    const QString& status() const { return status_; }
    void setStatus(const QString& status);

    bool isReady() const { return isReady_; }
    void setReady(bool ready);

    // Whether the desktop shows a tray icon; without one, the window is the way back in.
    bool hasTray() const { return hasTray_; }
    void setHasTray(bool hasTray);
    // The microphone dictation records from, as the sound server names it; empty when none.
    const QString& microphoneName() const { return microphoneName_; }
    void setMicrophoneName(const QString& name);

    Section section() const { return section_; }
    void setSection(Section section);

    // The settings sheet is open while a tab is set.
    const std::optional<SettingsTab>& settingsTab() const { return settingsTab_; }
    void setSettingsTab(std::optional<SettingsTab> tab);

    Look look() const;
    void setLook(Look look);

    Profile& profile() { return profile_; }
    // What dictation is doing: the phase, the level and the live words.
    const DictationState& dictation() const { return dictation_; }

  signals:
    void keyChanged();
    void statusChanged();
    void readyChanged();
    void hasTrayChanged();
    void microphoneNameChanged();
    void sectionChanged();
    void settingsTabChanged();
    void lookChanged();

  private:
    RecordKey& key_;
    Settings& settings_;
    const DictationState& dictation_;
    Profile profile_;
    QString status_;
    bool isReady_ = false;
    bool hasTray_ = true;
    QString microphoneName_;
    Section section_ = Section::home;
    std::optional<SettingsTab> settingsTab_;
};
