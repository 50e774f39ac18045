#include "ui/window/ConnectionsPane.h"

ConnectionsPane::ConnectionsPane(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state) {}
