#pragma once

#include <QString>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

// The rows the settings tabs are built from, so General, Connections and Privacy look alike:
// switches, pickers with their label and buttons (their column is ScreenParts::scrollingColumn).
namespace SettingsRows {

// A group's title within a tab.
QLabel* title(const QString& text);
// A switch named by its text.
QCheckBox* toggle(const QString& text);
// A picker named `name`, shown after a label reading `name` that leads to it.
QComboBox* picker(const QString& name, QHBoxLayout** row);
QPushButton* button(const QString& text);

} // namespace SettingsRows
