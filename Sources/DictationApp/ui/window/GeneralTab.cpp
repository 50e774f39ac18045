#include "ui/window/GeneralTab.h"

GeneralTab::GeneralTab(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
