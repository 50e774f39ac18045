#include "ui/window/SettingsSheet.h"

#include "ui/window/AccountTab.h"
#include "ui/window/ConnectionsPane.h"
#include "ui/window/GeneralTab.h"
#include "ui/window/Icons.h"
#include "ui/window/PrivacyTab.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/VoiceTab.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QWidget* makeTab(SettingsTab tab, AppState& state, const AppParts& parts) {
    switch (tab) {
    case SettingsTab::general:
        return new GeneralTab(state, parts);
    case SettingsTab::yourVoice:
        return new VoiceTab(state, parts);
    case SettingsTab::connections:
        return new ConnectionsPane(parts.paths);
    case SettingsTab::privacy:
        return new PrivacyTab(parts);
    case SettingsTab::account:
        return new AccountTab(state, parts);
    }
    return new QWidget;
}

} // namespace

SettingsSheet::SettingsSheet(AppState& state, const AppParts& parts, const std::string& version,
                             QWidget* parent)
    : QWidget(parent), state_(state), parts_(parts) {
    setObjectName(QStringLiteral("settingsSheet"));
    setAccessibleName(QStringLiteral("Settings"));
    // The screens' own background: the sheet is one of them while it is open.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 16);
    auto* header = new QHBoxLayout;
    header->addWidget(ScreenParts::heading(QStringLiteral("Settings")));
    header->addStretch();
    auto* close = new QToolButton;
    close->setIcon(Icons::symbol("xmark"));
    close->setAccessibleName(QStringLiteral("Close settings"));
    close->setToolTip(close->accessibleName());
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(close, &QToolButton::clicked, this, [this] { state_.setSettingsTab(std::nullopt); });
    header->addWidget(close);
    layout->addLayout(header);

    tabs_ = new QTabWidget;
    for (const SettingsTab tab : Sections::tabs) {
        QWidget* page = makeTab(tab, state, parts);
        page->setAccessibleName(Sections::label(tab));
        tabs_->addTab(page, Sections::label(tab));
    }
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && state_.settingsTab()) {
            state_.setSettingsTab(Sections::tabs[static_cast<std::size_t>(index)]);
        }
    });
    layout->addWidget(tabs_, 1);

    auto* versionLine = new QLabel(QString::fromStdString(parts.paths.appName()) +
                                   QLatin1Char(' ') + QString::fromStdString(version));
    versionLine->setObjectName(QStringLiteral("version"));
    ScreenParts::describe(versionLine, QStringLiteral("Version"));
    layout->addWidget(versionLine, 0, Qt::AlignRight);

    connect(&state, &AppState::settingsTabChanged, this, &SettingsSheet::showTab);
    showTab();
}

QWidget* SettingsSheet::tab(SettingsTab tab) const {
    return tabs_->widget(static_cast<int>(tab));
}

void SettingsSheet::showTab() {
    if (const auto& tab = state_.settingsTab()) {
        tabs_->setCurrentIndex(static_cast<int>(*tab));
    }
}
