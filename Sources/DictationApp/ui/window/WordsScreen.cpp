#include "ui/window/WordsScreen.h"

WordsScreen::WordsScreen(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
