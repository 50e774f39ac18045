#pragma once

#include "config/Settings.h"
#include "setup/SetupModel.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class Appearance;
class QWidget;

// The first-run setup window: made on first use, 600 by 800, centred, in the look the settings
// choose, and only hidden when closed. Closing it with a step still open leaves the app running
// without a window; closing it once everything is there calls onFinish.
class SetupWindow : public QObject {
    Q_OBJECT
  public:
    static constexpr int width = 600;
    static constexpr int height = 800;

    SetupWindow(SetupModel& model, Settings& settings, Appearance& appearance, QString appName,
                QObject* parent = nullptr);
    ~SetupWindow() override;

    SetupModel& model() const { return model_; }
    // Makes the window if needed, shows it and brings it to the front.
    void show();
    // Null until first shown.
    QWidget* widget() const;

    // Wired by start-up: setup is complete and its window closed; show the main window.
    std::function<void()> onFinish = [] {};

  private:
    class Window;
    void showLook();
    void closed();

    SetupModel& model_;
    Settings& settings_;
    Appearance& appearance_;
    QString appName_;
    std::unique_ptr<Window> window_;
};

// What opening the app shows (the tray's open action, a second launch): setup when the installed
// app still needs it or SHOW_SETUP is "1", else the main window through `showMain`.
void showWindow(bool isApp, SetupWindow& setup, const std::function<void()>& showMain);
