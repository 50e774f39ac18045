#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;

// General settings: record key, theme, open at login, sound, reading the keyboard on Wayland,
// updates, crash reports, the log.
class GeneralTab : public QWidget {
    Q_OBJECT
  public:
    explicit GeneralTab(AppState& state, const AppParts& parts, QWidget* parent = nullptr);

  protected:
    // The autostart entry may have changed outside the app since the tab last showed.
    void showEvent(QShowEvent* event) override;

  private:
    void changeOpenAtLogin(bool opens);
    void changeCrashReports(bool offers);
    // Shows the stored choices; emits nothing back into the settings.
    void showSettings();
    void showOpenAtLogin();
    // The switch, enabled only with an updater, and the updater's line.
    void showUpdates();

    AppState& state_;
    const AppParts& parts_;
    QComboBox* key_ = nullptr;
    QComboBox* look_ = nullptr;
    QCheckBox* openAtLogin_ = nullptr;
    QLabel* openAtLoginProblem_ = nullptr;
    QCheckBox* sound_ = nullptr;
    // Wayland sessions only.
    QCheckBox* inputDevices_ = nullptr;
    QCheckBox* updates_ = nullptr;
    QLabel* updatesLine_ = nullptr;
    QCheckBox* crashReports_ = nullptr;
};
