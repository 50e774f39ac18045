#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// History: every kept dictation, searched and filtered by app, grouped by day.
class HistoryScreen : public QWidget {
    Q_OBJECT
  public:
    explicit HistoryScreen(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
