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
class DictationState;
class ModelChoice;
class NoteStore;
class SnippetStore;
class Updates;
class VoiceTest;
class WordStore;

// What the windows share while the app runs: the record key, the status text, whether dictation
// is ready, the section and settings tab showing, the look, the stores and the live voice.
// Lives on the main thread; the section and tab outlive the window, which may close and reopen.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(bool isReady READ isReady WRITE setReady NOTIFY readyChanged)
    Q_PROPERTY(bool hasTray READ hasTray WRITE setHasTray NOTIFY hasTrayChanged)

  public:
    struct Stores {
        HistoryStore& history;
        WordStore& words;
        SnippetStore& snippets;
        NoteStore& notes;
    };

    AppState(RecordKey& key, Settings& settings, Stores stores, Paths paths,
             std::shared_ptr<const Clock> clock, Scheduler& scheduler,
             const DictationState& dictation, QObject* parent = nullptr);

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

    HistoryStore& history() const { return stores_.history; }
    WordStore& words() const { return stores_.words; }
    SnippetStore& snippets() const { return stores_.snippets; }
    NoteStore& notes() const { return stores_.notes; }
    Settings& settings() const { return settings_; }
    Profile& profile() { return profile_; }
    // What dictation is doing: the phase, the level and the live words.
    const DictationState& dictation() const { return dictation_; }
    // Voice tuning, once start-up has made it; it outlives the state.
    VoiceTest* voiceTest() const { return voiceTest_; }
    void setVoiceTest(VoiceTest* voiceTest) { voiceTest_ = voiceTest; }
    // The speech model's choice, once start-up has made it; it outlives the state.
    ModelChoice* modelChoice() const { return modelChoice_; }
    void setModelChoice(ModelChoice* choice) { modelChoice_ = choice; }
    const Paths& paths() const { return paths_; }
    const Clock& clock() const { return *clock_; }
    const std::shared_ptr<const Clock>& sharedClock() const { return clock_; }
    Scheduler& scheduler() const { return scheduler_; }
    // The update checker, when the installed app has one; start-up sets it.
    Updates* updates() const { return updates_; }
    void setUpdates(Updates* updates);

    // Deletes the history, recordings, timings and totals; start-up wires it.
    std::function<void()> onDeleteAll = [] {};
    // Removes every trace of the program and quits; start-up wires it.
    std::function<void()> onUninstall = [] {};
    // Where the speech engine recognises speech, for the Voice tab; start-up wires it.
    std::function<std::string()> speechDevice = [] { return std::string(); };
    // Quits the app (the window's Ctrl+Q); start-up wires it.
    std::function<void()> onQuit = [] {};

  signals:
    void keyChanged();
    void statusChanged();
    void readyChanged();
    void hasTrayChanged();
    void microphoneNameChanged();
    void sectionChanged();
    void settingsTabChanged();
    void lookChanged();
    void updatesChanged();

  private:
    RecordKey& key_;
    Settings& settings_;
    Stores stores_;
    Paths paths_;
    std::shared_ptr<const Clock> clock_;
    Scheduler& scheduler_;
    const DictationState& dictation_;
    VoiceTest* voiceTest_ = nullptr;
    ModelChoice* modelChoice_ = nullptr;
    Profile profile_;
    QString status_;
    bool isReady_ = false;
    bool hasTray_ = true;
    QString microphoneName_;
    Section section_ = Section::home;
    std::optional<SettingsTab> settingsTab_;
    Updates* updates_ = nullptr;
};
