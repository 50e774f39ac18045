#include "ui/window/SettingsRows.h"

#include "ui/window/Figures.h"
#include "ui/window/ScreenParts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

QLabel* SettingsRows::title(const QString& text) {
    // One heading style for a part of a screen, wherever it is.
    return Figures::subheading(text);
}

QCheckBox* SettingsRows::toggle(const QString& text) {
    auto* box = new QCheckBox(text);
    box->setAccessibleName(text);
    return box;
}

QComboBox* SettingsRows::picker(const QString& name, QHBoxLayout** row) {
    auto* label = new QLabel(name);
    auto* box = new QComboBox;
    box->setAccessibleName(name);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    label->setBuddy(box);
    *row = new QHBoxLayout;
    (*row)->addWidget(label);
    (*row)->addWidget(box);
    (*row)->addStretch();
    return box;
}

QPushButton* SettingsRows::button(const QString& text) {
    auto* button = new QPushButton(text);
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    return button;
}
