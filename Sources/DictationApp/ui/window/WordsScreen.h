#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Words: the names and terms the recogniser should spell correctly.
class WordsScreen : public QWidget {
    Q_OBJECT
  public:
    explicit WordsScreen(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
