#pragma once

#include "ui/window/AppState.h"

#include <QWidget>
#include <string>

class QTabWidget;

// The settings over the window's screens, one tab each for General, Your voice, Connections,
// Privacy and Account, with the app's version. Open while the shared state names a tab.
class SettingsSheet : public QWidget {
    Q_OBJECT
  public:
    SettingsSheet(AppState& state, const AppParts& parts, const std::string& version,
                  QWidget* parent);

    QWidget* tab(SettingsTab tab) const;

  private:
    void showTab();

    AppState& state_;
    const AppParts& parts_;
    QTabWidget* tabs_ = nullptr;
};
