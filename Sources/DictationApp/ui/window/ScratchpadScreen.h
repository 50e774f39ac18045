#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Scratchpad: notes, each saved as it is edited.
class ScratchpadScreen : public QWidget {
    Q_OBJECT
  public:
    explicit ScratchpadScreen(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
