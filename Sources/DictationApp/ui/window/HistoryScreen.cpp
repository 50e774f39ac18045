#include "ui/window/HistoryScreen.h"

HistoryScreen::HistoryScreen(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
