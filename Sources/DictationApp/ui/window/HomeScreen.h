#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Home: the greeting, the progress card, the getting-started steps and the newest dictations.
class HomeScreen : public QWidget {
    Q_OBJECT
  public:
    explicit HomeScreen(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
