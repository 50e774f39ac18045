#include "ui/window/SnippetsScreen.h"

SnippetsScreen::SnippetsScreen(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
