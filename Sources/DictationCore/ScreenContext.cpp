#include "ScreenContext.h"

ScreenContext::ScreenContext(std::string app, std::optional<WritingContext> kind)
    : appName(std::move(app)), writing(kind ? *kind : WritingContexts::of(appName, std::nullopt)) {}
