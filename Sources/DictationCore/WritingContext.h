#pragma once

#include "RawValues.h"

// How the receiving app lays out text.
enum class WritingContext { email, chat, prompt, document, other };

// Which of the user's writing styles applies to an app.
enum class AppGroup { messages, work, email, other };

namespace WritingContexts {
inline constexpr RawValues<WritingContext, 5> raw{{{
    {WritingContext::email, "email"},
    {WritingContext::chat, "chat"},
    {WritingContext::prompt, "prompt"},
    {WritingContext::document, "document"},
    {WritingContext::other, "other"},
}}};
inline constexpr auto allCases = raw.allCases();
inline constexpr std::string_view rawValue(WritingContext c) { return raw.rawValue(c); }
inline constexpr std::optional<WritingContext> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}
} // namespace WritingContexts

namespace AppGroups {
inline constexpr RawValues<AppGroup, 4> raw{{{
    {AppGroup::messages, "messages"},
    {AppGroup::work, "work"},
    {AppGroup::email, "email"},
    {AppGroup::other, "other"},
}}};
inline constexpr auto allCases = raw.allCases();
inline constexpr std::string_view rawValue(AppGroup g) { return raw.rawValue(g); }
inline constexpr std::optional<AppGroup> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}
} // namespace AppGroups

// TEMPORARY stand-in declarations (dropped when the classification lands on main).
#include <optional>
#include <string_view>
namespace WritingContexts {
WritingContext of(std::string_view appName, std::optional<std::string_view> windowTitle);
bool isBrowser(std::string_view appName);
} // namespace WritingContexts
