#pragma once

#include "ScreenContext.h"
#include "desktop/FocusProbe.h"
#include "desktop/WindowProbe.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What was in front at key down.
namespace FrontApp {

struct Front {
    // "unknown app" when no window is active or nothing names its application.
    std::string appName = ScreenContext::unknownApp;
    // Only read for browsers, where it tells a mail page from a chat.
    std::optional<std::string> windowTitle;

    bool operator==(const Front&) const = default;
};

using BrowserTest = std::function<bool(std::string_view lowerCasedAppName)>;

// The app's name and, when `isBrowser` holds for its lower-cased name, the window's title.
Front front(WindowProbe& windows, const BrowserTest& isBrowser);
// `front` classified into a writing context.
ScreenContext capture(WindowProbe& windows);

// Whether what the user types now is secret: the focused element is a password field, or
// another program holds the keyboard.
bool isSecure(WindowProbe& windows, FocusProbe& focus);

} // namespace FrontApp
