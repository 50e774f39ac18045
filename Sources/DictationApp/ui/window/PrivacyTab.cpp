#include "ui/window/PrivacyTab.h"

#include "Retention.h"
#include "storage/HistoryStore.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/SettingsRows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

PrivacyTab::PrivacyTab(const AppParts& parts, QWidget* parent) : QWidget(parent), parts_(parts) {
    QVBoxLayout* column = ScreenParts::scrollingColumn(this);
    column->addWidget(
        ScreenParts::note(QStringLiteral("Speech is turned into text on this computer.")));

    QHBoxLayout* row = nullptr;
    retention_ = SettingsRows::picker(QStringLiteral("Keep history"), &row);
    for (const Retention retention : Retentions::allCases) {
        retention_->addItem(ScreenParts::text(Retentions::label(retention)));
    }
    column->addLayout(row);
    column->addWidget(ScreenParts::note(
        QStringLiteral("Word counts and the days you talked are kept for your rank and streak "
                       "after history expires. They never include what you said.")));

    keepAudio_ = SettingsRows::toggle(QStringLiteral("Keep recordings"));
    column->addWidget(keepAudio_);
    column->addWidget(ScreenParts::note(QStringLiteral("Deleted with their history entry.")));
    column->addWidget(
        ScreenParts::note(QStringLiteral("Skips password fields the desktop can detect.")));

    column->addSpacing(12);
    historyProblem_ = ScreenParts::problemLine();
    column->addWidget(historyProblem_);
    deleteAll_ = SettingsRows::button(QStringLiteral("Delete all dictations"));
    column->addWidget(deleteAll_, 0, Qt::AlignLeft);

    column->addSpacing(12);
    uninstall_ = SettingsRows::button(QStringLiteral("Uninstall…"));
    column->addWidget(uninstall_, 0, Qt::AlignLeft);
    column->addWidget(ScreenParts::note(QStringLiteral(
        "Removes the app and everything it keeps on this computer, including the speech model.")));
    column->addStretch();

    connect(retention_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) {
            return;
        }
        parts_.settings.set(SettingKeys::retention,
                            Retentions::allCases[static_cast<std::size_t>(index)]);
        // The shorter limit counts from now, not from the next hourly purge.
        parts_.history.purge();
    });
    connect(keepAudio_, &QCheckBox::toggled, this,
            [this](bool on) { parts_.settings.set(SettingKeys::keepAudio, on); });
    connect(deleteAll_, &QPushButton::clicked, this, &PrivacyTab::confirmDeleteAll);
    connect(uninstall_, &QPushButton::clicked, this, &PrivacyTab::uninstall);

    HistoryStore& history = parts.history;
    connect(&history, &HistoryStore::problemChanged, this,
            [this] { ScreenParts::showProblem(historyProblem_, parts_.history.problem()); });
    ScreenParts::showProblem(historyProblem_, history.problem());
    connect(&parts.settings, &Settings::changed, this, &PrivacyTab::showSettings);
    showSettings();
}

void PrivacyTab::showSettings() {
    const Settings& settings = parts_.settings;
    const QSignalBlocker retentionBlocker(retention_);
    retention_->setCurrentIndex(static_cast<int>(settings.get(SettingKeys::retention)));
    const QSignalBlocker audioBlocker(keepAudio_);
    keepAudio_->setChecked(settings.get(SettingKeys::keepAudio));
}

void PrivacyTab::confirmDeleteAll() {
    ScreenParts::confirm(
        this, QStringLiteral("Delete all dictations"),
        QStringLiteral("Delete all history and recordings?"),
        QStringLiteral("History, recordings, timings, rank and streak. Words, snippets, notes "
                       "and voice recordings stay."),
        QStringLiteral("Delete"), [this] { parts_.deleteAll(); });
}

void PrivacyTab::uninstall() {
    const QString app = QString::fromStdString(parts_.paths.appName());
    ScreenParts::confirm(
        this, QStringLiteral("Uninstall"),
        QStringLiteral("Uninstall ") + app + QStringLiteral(" and delete everything?"),
        QStringLiteral("History, recordings, words, snippets, notes, settings and the speech "
                       "model are deleted, and the app goes to the Trash. This can't be "
                       "undone."),
        QStringLiteral("Uninstall"), [this] { parts_.uninstall(); });
}
