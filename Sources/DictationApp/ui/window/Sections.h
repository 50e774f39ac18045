#pragma once

#include <QString>
#include <array>

// The main window's sidebar sections and the settings sheet's tabs, in the order shown.
enum class Section { home, history, insights, words, snippets, style, scratchpad };
enum class SettingsTab { general, yourVoice, connections, privacy, account };

namespace Sections {

inline constexpr std::array<Section, 7> all{
    Section::home,     Section::history, Section::insights,  Section::words,
    Section::snippets, Section::style,   Section::scratchpad};
inline constexpr std::array<SettingsTab, 5> tabs{SettingsTab::general, SettingsTab::yourVoice,
                                                 SettingsTab::connections, SettingsTab::privacy,
                                                 SettingsTab::account};

QString label(Section section);
QString label(SettingsTab tab);

} // namespace Sections
