#include "ui/window/StyleScreen.h"

StyleScreen::StyleScreen(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
