// TEMPORARY stand-in so this branch links before the real classification lands on main.
// Drop this file, its line in CMakeLists.txt and the declarations at the end of
// WritingContext.h when merging.
#include "WritingContext.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace WritingContexts {

WritingContext of(std::string_view, std::optional<std::string_view>) {
    return WritingContext::other;
}

bool isBrowser(std::string_view appName) {
    static constexpr std::array<std::string_view, 13> browsers{
        "safari",         "google chrome", "chrome", "arc",   "firefox",
        "microsoft edge", "brave browser", "dia",    "orion", "vivaldi",
        "opera",          "chromium",      "zen"};
    std::string lower(appName);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(browsers.begin(), browsers.end(), lower) != browsers.end();
}

} // namespace WritingContexts
