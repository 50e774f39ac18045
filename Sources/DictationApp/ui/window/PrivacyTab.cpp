#include "ui/window/PrivacyTab.h"

PrivacyTab::PrivacyTab(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
