#include "WritingContext.h"
#include "WritingStyle.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    std::string app;
    std::optional<std::string> title;
    WritingContext context;
    AppGroup group;
};

TEST(WritingContext, AppsAndBrowserTitlesClassify) {
    using C = WritingContext;
    using G = AppGroup;
    const std::vector<Row> rows = {
        {"Safari", "Inbox (3) - Gmail", C::email, G::email},
        {"Safari", "Claude", C::prompt, G::other},
        {"Safari", std::nullopt, C::other, G::other},
        {"Google Chrome", "Slack | Gmail", C::email, G::email}, // first pattern wins
        {"Firefox ESR", "general - Slack", C::chat, G::work},
        {"Chromium", "v0 by Vercel", C::prompt, G::other},
        {"Chromium", "v01 release notes", C::other, G::other},
        {"firefox", "Roadmap – Google Docs", C::document, G::other},
        {"Mail", std::nullopt, C::email, G::email},
        {"Slack", std::nullopt, C::chat, G::work},
        {"Cursor", std::nullopt, C::prompt, G::other},
        {"VISUAL STUDIO CODE", std::nullopt, C::prompt, G::other},
        {"Figma", std::nullopt, C::other, G::other},
        {"\u200eWhatsApp", std::nullopt, C::chat, G::messages},
        // A non-browser's title never counts.
        {"Figma", "Gmail", C::other, G::other},
        // Linux desktop names
        {"Thunderbird Mail", std::nullopt, C::email, G::email},
        {"Evolution", std::nullopt, C::email, G::email},
        {"Geary", std::nullopt, C::email, G::email},
        {"Element", std::nullopt, C::chat, G::messages},
        {"Telegram Desktop", std::nullopt, C::chat, G::messages},
        {"Terminal", std::nullopt, C::prompt, G::other},
        {"Konsole", std::nullopt, C::prompt, G::other},
        {"kitty", std::nullopt, C::prompt, G::other},
        {"Alacritty", std::nullopt, C::prompt, G::other},
        {"WezTerm", std::nullopt, C::prompt, G::other},
        {"Tilix", std::nullopt, C::prompt, G::other},
        {"XTerm", std::nullopt, C::prompt, G::other},
        {"Text Editor", std::nullopt, C::document, G::other},
        {"gedit", std::nullopt, C::document, G::other},
        {"Kate", std::nullopt, C::document, G::other},
        {"LibreOffice Writer", std::nullopt, C::document, G::other},
        {"Mattermost", std::nullopt, C::chat, G::work},
    };
    for (const auto& row : rows) {
        const auto title = row.title ? std::optional<std::string_view>(*row.title) : std::nullopt;
        const auto context = WritingContexts::of(row.app, title);
        EXPECT_EQ(context, row.context) << row.app << " / " << row.title.value_or("-");
        EXPECT_EQ(AppGroups::of(row.app, context), row.group) << row.app;
    }
}

TEST(WritingContext, BrowsersAreKnownByName) {
    EXPECT_TRUE(WritingContexts::isBrowser("Google Chrome"));
    EXPECT_TRUE(WritingContexts::isBrowser("Firefox ESR"));
    EXPECT_TRUE(WritingContexts::isBrowser("Chromium"));
    EXPECT_FALSE(WritingContexts::isBrowser("Chrome Remote Desktop"));
    EXPECT_EQ(WritingContexts::browsers().count("safari"), 1u);
}

TEST(WritingStyle, OnlyTheVeryEndIsTouched) {
    using S = WritingStyle;
    const std::vector<std::tuple<S, std::string, std::string>> rows = {
        {S::polished, "See you soon.", "See you soon."},
        {S::relaxed, "See you soon.", "See you soon"},
        {S::relaxed, "Wait...", "Wait..."},
        {S::relaxed, "Really?", "Really?"},
        {S::relaxed, "Dr. Who is here.", "Dr. Who is here"},
        {S::lowercase, "Meet Anna in Paris.", "meet anna in paris"},
        {S::lowercase, "ÉTÉ À PARIS!", "été à paris!"},
        {S::relaxed, "", ""},
        {S::lowercase, ".", ""},
    };
    for (const auto& [style, text, expected] : rows) {
        EXPECT_EQ(WritingStyles::apply(style, text), expected) << text;
    }
}

TEST(AppGroupExamples, EveryExampleIsAnAppDictationPutsInThatGroup) {
    for (const AppGroup group : AppGroups::allCases) {
        const auto examples = AppGroups::examples(group);
        EXPECT_GE(examples.size(), 3u) << AppGroups::rawValue(group);
        for (const std::string_view app : examples) {
            EXPECT_EQ(AppGroups::of(app, WritingContexts::of(app, std::nullopt)), group)
                << app << " shown under " << AppGroups::rawValue(group);
        }
    }
}

} // namespace
