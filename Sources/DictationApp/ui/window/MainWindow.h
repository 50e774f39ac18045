#pragma once

#include "ui/window/AppState.h"
#include "ui/window/Appearance.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class MainWindowView;
class VoiceTest;

// The main window: made once at start-up, its widgets only when first shown. Closing it hides
// it and the app keeps running in the tray; the section and settings tab showing are kept in
// the shared state, so reopening finds them as they were.
class MainWindow : public QObject {
    Q_OBJECT
  public:
    // `version` is the installed tree's "CFBundleShortVersionString".
    MainWindow(AppState& state, const AppParts& parts, std::string version,
               QObject* parent = nullptr);
    ~MainWindow() override;

    void show();
    void hide();
    // Ends the program: the window hides first (keeping its frame), then the event loop ends
    // without asking each window, which an older tray's icon window would refuse.
    void quitApplication();
    bool isVisible() const;

    // Whether a finished recording goes to voice tuning instead of being typed: while the app
    // is active, this window visible and the "Your voice" tab showing.
    bool captureTarget() const;
    static bool captureTarget(bool appIsActive, bool windowIsVisible,
                              const std::optional<SettingsTab>& tab);
    // The dictation controller's captureTarget hook: at key down, a receiver that keeps the
    // recording for voice tuning while captureTarget() holds, else none. Either object may go
    // first; a receiver left over then drops the recording.
    using SampleReceiver = std::function<void(std::vector<float>)>;
    static std::function<std::optional<SampleReceiver>()> captureHook(const MainWindow& window,
                                                                      VoiceTest& voiceTest);

    // The window's widgets, made when first shown; nothing before.
    QWidget* widget() const;
    Appearance& appearance() { return appearance_; }

  private:
    AppState& state_;
    const AppParts& parts_;
    std::string version_;
    Appearance appearance_;
    std::unique_ptr<MainWindowView> view_;
};
