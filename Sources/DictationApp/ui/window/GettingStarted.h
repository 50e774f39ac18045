#pragma once

#include "ui/window/AppState.h"

#include <QString>
#include <functional>
#include <string_view>
#include <vector>

// One of the first things to do, shown on Home until the user hides them.
struct Step {
    std::string_view id;
    QString title;
    QString pitch;
    QString button;
    bool isDone = false;
    std::function<void()> open;
};

namespace GettingStarted {

// The five steps in order, each done or not as the settings and stores say now. "Try it here"
// runs `tryHere`; the others open their section or settings tab.
std::vector<Step> steps(AppState& state, const AppParts& parts, std::function<void()> tryHere);

} // namespace GettingStarted
