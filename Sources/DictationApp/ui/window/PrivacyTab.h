#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Privacy: how long history is kept, recordings, deleting everything, uninstalling.
class PrivacyTab : public QWidget {
    Q_OBJECT
  public:
    explicit PrivacyTab(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
