#include "ui/window/Sections.h"

QString Sections::label(Section section) {
    switch (section) {
    case Section::home:
        return QStringLiteral("Home");
    case Section::history:
        return QStringLiteral("History");
    case Section::insights:
        return QStringLiteral("Insights");
    case Section::words:
        return QStringLiteral("Words");
    case Section::snippets:
        return QStringLiteral("Snippets");
    case Section::style:
        return QStringLiteral("Style");
    case Section::scratchpad:
        return QStringLiteral("Scratchpad");
    }
    return {};
}

QString Sections::label(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::general:
        return QStringLiteral("General");
    case SettingsTab::yourVoice:
        return QStringLiteral("Your voice");
    case SettingsTab::connections:
        return QStringLiteral("Connections");
    case SettingsTab::privacy:
        return QStringLiteral("Privacy");
    case SettingsTab::account:
        return QStringLiteral("Account");
    }
    return {};
}
