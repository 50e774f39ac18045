#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Account: the local profile, rank, pace and where the user talks.
class AccountTab : public QWidget {
    Q_OBJECT
  public:
    explicit AccountTab(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
