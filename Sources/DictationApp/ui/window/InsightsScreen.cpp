#include "ui/window/InsightsScreen.h"

InsightsScreen::InsightsScreen(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
