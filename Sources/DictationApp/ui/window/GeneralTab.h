#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// General settings: record key, theme, open at login, sound, updates, crash reports, the log.
class GeneralTab : public QWidget {
    Q_OBJECT
  public:
    explicit GeneralTab(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
