#include "WritingContext.h"

#include "Regex.h"
#include "Text.h"

#include <array>

namespace {

using Names = std::set<std::string, std::less<>>;

// Whole-name tables, lower case. Each lists the names the apps carry on every desktop first,
// then the names of Linux desktop entries.
const Names& browserNames() {
    static const Names names{
        "safari", "google chrome", "chrome", "arc", "firefox", "microsoft edge", "brave browser",
        "dia", "orion", "vivaldi", "opera", "chromium", "zen",
        // Linux desktop entries
        "firefox esr", "brave web browser", "chromium web browser", "librewolf", "waterfox",
        "floorp", "falkon", "epiphany", "web", "konqueror", "zen browser"};
    return names;
}

struct ContextNames {
    WritingContext context;
    Names names;
};

const std::array<ContextNames, 4>& contextNames() {
    static const std::array<ContextNames, 4> table{{
        {WritingContext::email,
         {"mail", "microsoft outlook", "outlook", "new outlook", "superhuman", "spark",
          "spark desktop", "spark mail", "mimestream", "airmail", "airmail 5", "canary mail",
          "proton mail", "hey", "missive", "postbox", "thunderbird",
          // Linux
          "thunderbird mail", "mozilla thunderbird", "betterbird", "evolution", "geary", "kmail",
          "mailspring", "claws mail"}},
        {WritingContext::chat,
         {"messages", "whatsapp", "\u200ewhatsapp", "telegram", "signal", "messenger", "discord",
          "slack", "microsoft teams", "microsoft teams classic", "google chat", "roam", "zoom",
          "zoom.us", "beeper", "linkedin",
          // Linux
          "element", "telegram desktop", "fractal", "mattermost", "teams for linux", "zulip",
          "rocket.chat", "hexchat", "pidgin", "polari", "skype", "wire"}},
        {WritingContext::prompt,
         {"claude", "chatgpt", "cursor", "code", "visual studio code", "terminal", "iterm2",
          "iterm", "warp", "ghostty", "xcode", "zed", "windsurf", "perplexity", "kiro", "codex",
          "raycast",
          // Linux
          "konsole", "kitty", "alacritty", "wezterm", "tilix", "xterm", "uxterm", "gnome terminal",
          "console", "ptyxis", "terminator", "foot", "xfce terminal", "qterminal", "lxterminal",
          "mate terminal", "guake", "yakuake", "vscodium", "code - oss", "sublime text"}},
        {WritingContext::document,
         {"notes", "notion", "pages", "microsoft word", "word", "obsidian", "bear", "craft",
          "textedit", "drafts", "ulysses", "google docs", "apple notes", "evernote", "linear",
          "things", "reminders",
          // Linux
          "text editor", "gedit", "kate", "kwrite", "libreoffice writer", "onlyoffice", "abiword",
          "gnote", "joplin", "logseq", "mousepad", "pluma", "xed", "apostrophe", "ghostwriter",
          "typora", "marktext", "zim", "cherrytree"}},
    }};
    return table;
}

struct GroupNames {
    AppGroup group;
    Names names;
};

const std::array<GroupNames, 3>& groupNames() {
    static const std::array<GroupNames, 3> table{{
        {AppGroup::messages,
         {"messages", "whatsapp", "\u200ewhatsapp", "telegram", "signal", "messenger", "discord",
          // Linux
          "telegram desktop", "element", "fractal"}},
        {AppGroup::work,
         {"slack", "microsoft teams", "microsoft teams classic", "zoom", "zoom.us", "roam",
          "google chat",
          // Linux
          "mattermost", "teams for linux", "zulip", "rocket.chat"}},
        {AppGroup::email,
         {"mail", "microsoft outlook", "outlook", "superhuman", "spark", "spark desktop",
          "mimestream"}},
    }};
    return table;
}

struct TitlePattern {
    WritingContext context;
    Regex pattern;
};

const std::array<TitlePattern, 4>& titlePatterns() {
    static const std::array<TitlePattern, 4> patterns{{
        {WritingContext::email,
         Regex(
             R"(\b(gmail|outlook|fastmail|proton mail|yahoo mail|icloud mail|superhuman|hey\.com|zoho mail)\b)",
             Regex::caseInsensitive)},
        {WritingContext::chat,
         Regex(R"(\b(slack|discord|whatsapp|messenger|microsoft teams|google chat|telegram)\b)",
               Regex::caseInsensitive)},
        {WritingContext::prompt,
         Regex(R"(\b(claude|chatgpt|gemini|perplexity|github|copilot|replit|lovable|v0)\b)",
               Regex::caseInsensitive)},
        {WritingContext::document,
         Regex(R"(\b(google docs|notion|confluence|dropbox paper|quip|coda|linear)\b)",
               Regex::caseInsensitive)},
    }};
    return patterns;
}

} // namespace

namespace WritingContexts {

const std::set<std::string, std::less<>>& browsers() {
    return browserNames();
}

bool isBrowser(std::string_view appName) {
    return browserNames().contains(Text::lowercased(appName));
}

WritingContext of(std::string_view appName, std::optional<std::string_view> windowTitle) {
    const std::string name = Text::lowercased(appName);
    if (browserNames().contains(name)) {
        const std::string_view title = windowTitle.value_or("");
        for (const auto& [context, pattern] : titlePatterns()) {
            if (pattern.isMatch(title)) {
                return context;
            }
        }
        return WritingContext::other;
    }
    for (const auto& [context, names] : contextNames()) {
        if (names.contains(name)) {
            return context;
        }
    }
    return WritingContext::other;
}

} // namespace WritingContexts

namespace AppGroups {

AppGroup of(std::string_view appName) {
    const std::string name = Text::lowercased(appName);
    for (const auto& [group, names] : groupNames()) {
        if (names.contains(name)) {
            return group;
        }
    }
    return AppGroup::other;
}

std::span<const std::string_view> examples(AppGroup group) {
    static constexpr std::string_view messages[] = {"Signal", "Telegram", "WhatsApp", "Element"};
    static constexpr std::string_view work[] = {"Slack", "Microsoft Teams", "Mattermost", "Zulip"};
    static constexpr std::string_view email[] = {"Thunderbird", "Evolution", "Geary", "KMail"};
    static constexpr std::string_view other[] = {"Text Editor", "LibreOffice Writer", "Obsidian",
                                                 "Konsole"};
    switch (group) {
    case AppGroup::messages:
        return messages;
    case AppGroup::work:
        return work;
    case AppGroup::email:
        return email;
    case AppGroup::other:
        break;
    }
    return other;
}

AppGroup of(std::string_view appName, WritingContext writing) {
    if (const AppGroup listed = of(appName); listed != AppGroup::other) {
        return listed;
    }
    switch (writing) {
    case WritingContext::email:
        return AppGroup::email;
    case WritingContext::chat:
        return AppGroup::work;
    default:
        return AppGroup::other;
    }
}

} // namespace AppGroups
