#include "dictation/FrontApp.h"

#include "Text.h"

namespace FrontApp {

Front front(WindowProbe& windows, const BrowserTest& isBrowser) {
    Front result;
    const auto window = windows.frontmost();
    // Any X client can set its class: a line feed or a direction override must not reach the
    // log, the timing rows, the history or an AI app.
    const std::string name = window ? Text::trimmed(Text::printable(window->appName)) : "";
    if (name.empty()) {
        return result;
    }
    result.appName = name;
    if (isBrowser(Text::lowercased(result.appName))) {
        result.windowTitle = windows.title(*window);
    }
    return result;
}

ScreenContext capture(WindowProbe& windows) {
    const Front app =
        front(windows, [](std::string_view name) { return WritingContexts::isBrowser(name); });
    std::optional<std::string_view> title;
    if (app.windowTitle) {
        title = *app.windowTitle;
    }
    return ScreenContext(app.appName, WritingContexts::of(app.appName, title));
}

bool isSecure(WindowProbe& windows, FocusProbe& focus) {
    // The field first: a password field needs no keyboard grab test, which briefly moves
    // focus away from the window.
    if (const auto element = focus.focusedElement(); element && focus.isSecure(*element)) {
        return true;
    }
    return windows.isKeyboardGrabbed();
}

} // namespace FrontApp
