#include "ui/window/AccountTab.h"

AccountTab::AccountTab(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
