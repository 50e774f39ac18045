#include "ui/window/VoiceTab.h"

VoiceTab::VoiceTab(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {}
