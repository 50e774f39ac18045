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
// switches, pickers with their label, buttons, and a column that scrolls when a large scale
// makes a tab taller than the sheet.
namespace SettingsRows {

// The tab's column inside a scroll area filling `tab`.
QVBoxLayout* scrollingColumn(QWidget* tab);
// A group's title within a tab.
QLabel* title(const QString& text);
// A switch named by its text.
QCheckBox* toggle(const QString& text);
// A picker named `name`, shown after a label reading `name` that leads to it.
QComboBox* picker(const QString& name, QHBoxLayout** row);
QPushButton* button(const QString& text);

} // namespace SettingsRows
