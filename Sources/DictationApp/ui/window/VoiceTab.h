#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Your voice: voice tuning shows here once the app has it.
class VoiceTab : public QWidget {
    Q_OBJECT
  public:
    explicit VoiceTab(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
