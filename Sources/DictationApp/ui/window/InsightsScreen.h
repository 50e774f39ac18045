#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Insights: the last two weeks in figures, where the user talks and the rank ladder.
class InsightsScreen : public QWidget {
    Q_OBJECT
  public:
    explicit InsightsScreen(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
