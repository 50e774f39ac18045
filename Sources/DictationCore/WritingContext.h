#pragma once

#include "RawValues.h"

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

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
inline constexpr std::string_view rawValue(WritingContext c) {
    return raw.rawValue(c);
}
inline constexpr std::optional<WritingContext> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}

// The context of an app from its display name and, for browsers, the front window's title.
WritingContext of(std::string_view appName, std::optional<std::string_view> windowTitle);

// Lower-cased display names of web browsers, whose window title decides the context.
const std::set<std::string, std::less<>>& browsers();
bool isBrowser(std::string_view appName);
} // namespace WritingContexts

namespace AppGroups {
inline constexpr RawValues<AppGroup, 4> raw{{{
    {AppGroup::messages, "messages"},
    {AppGroup::work, "work"},
    {AppGroup::email, "email"},
    {AppGroup::other, "other"},
}}};
inline constexpr auto allCases = raw.allCases();
inline constexpr std::string_view rawValue(AppGroup g) {
    return raw.rawValue(g);
}
inline constexpr std::optional<AppGroup> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}

// The group of a listed app, else other.
AppGroup of(std::string_view appName);
// The listed group, else by context: e-mail apps use the e-mail style, chats the work style.
AppGroup of(std::string_view appName, WritingContext writing);
// A few apps of the group as their windows name them, for the user to recognise it by.
std::span<const std::string_view> examples(AppGroup group);
} // namespace AppGroups
