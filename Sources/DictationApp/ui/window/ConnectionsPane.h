#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

// Connections: registers the connector server with AI apps.
class ConnectionsPane : public QWidget {
    Q_OBJECT
  public:
    explicit ConnectionsPane(AppState& state, QWidget* parent = nullptr);

  private:
    AppState& state_;
};
