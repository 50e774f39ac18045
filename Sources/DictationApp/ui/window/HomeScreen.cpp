#include "ui/window/HomeScreen.h"

HomeScreen::HomeScreen(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
