#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Snippets: short spoken phrases and the long text each types.
class SnippetsScreen : public QWidget {
    Q_OBJECT
  public:
    explicit SnippetsScreen(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
