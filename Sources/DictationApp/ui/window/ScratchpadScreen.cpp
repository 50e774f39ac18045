#include "ui/window/ScratchpadScreen.h"

ScratchpadScreen::ScratchpadScreen(AppState& state, QWidget* parent)
    : QWidget(parent), state_(state) {}
