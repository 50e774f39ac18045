#pragma once

#include "dictation/DictationState.h"
#include "ui/window/AppState.h"

#include <QMenu>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>

class QAction;

// The tray icon and its menu: the status line, opening the window, retrying the last
// dictation, checking for updates and quitting. The icon is the microphone, red while
// listening. Where the desktop has no tray, AppState says so and the main window explains.
class StatusMenu : public QObject {
    Q_OBJECT
  public:
    // Follows `state`'s status and `dictation`'s phase and retry for as long as it lives.
    StatusMenu(AppState& state, const DictationState& dictation, const std::string& appName,
               QObject* parent = nullptr);
    ~StatusMenu() override;

    // Actions with inert defaults; start-up assigns them. The items' enabled states are
    // checked again when the menu opens and after the current event, so assigning
    // `canRetry` and `onCheckForUpdates` right after construction is enough.
    std::function<void()> onOpen = [] {};
    std::function<void()> onRetry = [] {};
    std::function<void()> onQuit = [] {};
    // Empty unless an update checker exists; "Check for Updates…" is disabled while empty.
    std::function<void()> onCheckForUpdates;
    std::function<bool()> canRetry = [] { return false; };

    void setRecording(bool recording);
    bool isRecording() const { return recording_; }
    // A note from the tray, such as a newer version; nothing where there is no tray.
    void showMessage(const QString& title, const QString& text);
    // The text of the last tray message, for the views and tests that follow it.
    const QString& lastMessage() const { return lastMessage_; }
    // Sets the items' enabled states from `canRetry` and `onCheckForUpdates`.
    void validate();

    QSystemTrayIcon& icon() { return tray_; }
    QMenu& menu() { return menu_; }
    QAction& statusLine() const { return *statusLine_; }
    QAction& retryItem() const { return *retryItem_; }
    QAction& updatesItem() const { return *updatesItem_; }
    QAction& openItem() const { return *openItem_; }
    QAction& quitItem() const { return *quitItem_; }

  private:
    void showStatus();

    AppState& state_;
    QMenu menu_;
    QSystemTrayIcon tray_;
    QAction* statusLine_ = nullptr;
    QAction* openItem_ = nullptr;
    QAction* retryItem_ = nullptr;
    QAction* updatesItem_ = nullptr;
    QAction* quitItem_ = nullptr;
    QString lastMessage_;
    bool recording_ = false;
};
