#pragma once

#include "WritingContext.h"

#include <optional>
#include <string>

// What the user was dictating into at key down: the frontmost app and the kind of writing.
struct ScreenContext {
    static constexpr const char* unknownApp = "unknown app";

    std::string appName;
    WritingContext writing;

    ScreenContext() : ScreenContext(unknownApp) {}
    // Without `writing`, the kind of writing follows from the app name alone.
    explicit ScreenContext(std::string appName,
                           std::optional<WritingContext> writing = std::nullopt);

    bool operator==(const ScreenContext&) const = default;
};
