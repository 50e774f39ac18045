#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Style: the writing style of each group of apps, shown on a sample.
class StyleScreen : public QWidget {
    Q_OBJECT
  public:
    explicit StyleScreen(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
