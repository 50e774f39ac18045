#include "ui/window/HistoryScreen.h"

#include "config/Settings.h"
#include "storage/HistoryStore.h"
#include "ui/window/CorrectionDialog.h"
#include "ui/window/HistoryDelegate.h"
#include "ui/window/HistoryModel.h"
#include "ui/window/Icons.h"
#include "ui/window/ScreenParts.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

using ScreenParts::text;

namespace {

// A button and the list's own action for one thing done to the chosen dictation.
QPushButton* button(const char* symbol, const QString& label) {
    auto* button = new QPushButton(Icons::symbol(symbol), label);
    button->setAccessibleName(label);
    return button;
}

QAction* action(QListView* list, const char* symbol, const QString& label,
                const QKeySequence& keys) {
    auto* action = new QAction(Icons::symbol(symbol), label, list);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WidgetShortcut);
    list->addAction(action);
    return action;
}

} // namespace

HistoryScreen::HistoryScreen(const AppParts& parts, QWidget* parent)
    : QWidget(parent), parts_(parts) {
    HistoryStore& history = parts.history;
    auto* layout = ScreenParts::column(this);
    layout->addWidget(ScreenParts::heading(QStringLiteral("History")));
    problem_ = ScreenParts::problemLine();
    layout->addWidget(problem_);

    auto* filters = new QHBoxLayout;
    search_ = new QLineEdit;
    search_->setPlaceholderText(QStringLiteral("Search"));
    search_->setAccessibleName(search_->placeholderText());
    ScreenParts::makeFindTarget(search_);
    search_->setClearButtonEnabled(true);
    filters->addWidget(search_, 1);
    apps_ = new QComboBox;
    apps_->setAccessibleName(QStringLiteral("App"));
    apps_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    apps_->setMaximumWidth(280);
    filters->addWidget(apps_);
    layout->addLayout(filters);

    model_ = new HistoryModel(history, *parts.clock, this);
    list_ = new QListView;
    list_->setAccessibleName(QStringLiteral("Dictations"));
    list_->setModel(model_);
    list_->setItemDelegate(new HistoryDelegate(list_));
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    // One height for every row: a long history is laid out without measuring each row.
    list_->setUniformItemSizes(true);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
    copyAction_ = action(list_, "doc.on.doc", QStringLiteral("Copy"), QKeySequence::Copy);
    correctAction_ = action(list_, "pencil", QStringLiteral("Correct"), QKeySequence());
    deleteAction_ = action(list_, "trash", QStringLiteral("Delete"), QKeySequence::Delete);

    empty_ = new QLabel;
    empty_->setObjectName(QStringLiteral("empty"));
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setForegroundRole(QPalette::PlaceholderText);
    pages_ = new QStackedWidget;
    pages_->addWidget(list_);
    pages_->addWidget(empty_);
    layout->addWidget(pages_, 1);

    auto* actions = new QHBoxLayout;
    actions->addStretch();
    copy_ = button("doc.on.doc", QStringLiteral("Copy"));
    correct_ = button("pencil", QStringLiteral("Correct"));
    delete_ = button("trash", QStringLiteral("Delete"));
    // A delete can be taken back for a few seconds, as GNOME's apps offer.
    undoBar_ = new QWidget;
    undoBar_->setObjectName(QStringLiteral("undoBar"));
    auto* undoRow = new QHBoxLayout(undoBar_);
    undoRow->setContentsMargins(0, 0, 0, 0);
    auto* deletedLine = new QLabel(QStringLiteral("Dictation deleted."));
    undoRow->addWidget(deletedLine);
    auto* undo = new QPushButton(QStringLiteral("Undo"));
    undo->setAccessibleName(undo->text());
    undoRow->addWidget(undo);
    undoRow->addStretch();
    undoBar_->hide();
    connect(undo, &QPushButton::clicked, this, &HistoryScreen::undoDelete);
    actions->addWidget(undoBar_, 1);
    actions->addWidget(copy_);
    actions->addWidget(correct_);
    actions->addWidget(delete_);
    layout->addLayout(actions);

    setTabOrder(search_, apps_);
    setTabOrder(apps_, list_);
    setTabOrder(list_, copy_);
    setTabOrder(copy_, correct_);
    setTabOrder(correct_, delete_);

    connect(search_, &QLineEdit::textChanged, this, [this](const QString& query) {
        model_->setQuery(query);
        showState();
    });
    connect(apps_, &QComboBox::activated, this, [this](int index) {
        model_->setApp(index <= 0 ? std::nullopt
                                  : std::optional(apps_->itemText(index).toStdString()));
        showState();
    });
    for (QPushButton* b : {copy_, correct_, delete_}) {
        b->setEnabled(false);
    }
    connect(copy_, &QPushButton::clicked, this, &HistoryScreen::copySelected);
    connect(copyAction_, &QAction::triggered, this, &HistoryScreen::copySelected);
    connect(correct_, &QPushButton::clicked, this, &HistoryScreen::correctSelected);
    connect(correctAction_, &QAction::triggered, this, &HistoryScreen::correctSelected);
    connect(list_, &QListView::activated, this, &HistoryScreen::correctSelected);
    connect(delete_, &QPushButton::clicked, this, &HistoryScreen::deleteSelected);
    connect(deleteAction_, &QAction::triggered, this, &HistoryScreen::deleteSelected);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const Dictation* chosen = selected();
        chosenId_ = chosen ? chosen->id : std::string();
        showState();
    });
    connect(&history, &HistoryStore::entriesChanged, this, &HistoryScreen::refresh);
    connect(&history, &HistoryStore::problemChanged, this, &HistoryScreen::showState);
    connect(&parts.settings, &Settings::changed, this, [this](const QString& key) {
        if (key == text(SettingKeys::retention.name)) {
            showState();
        }
    });

    showApps();
    showState();
}

void HistoryScreen::refresh() {
    // The rows still point into the list as it was: go by the id noted when it was chosen.
    const std::string id = chosenId_;
    const int scrolled = list_->verticalScrollBar()->value();
    model_->refresh();
    list_->verticalScrollBar()->setValue(scrolled);
    if (!id.empty()) {
        if (const QModelIndex row = model_->find(id); row.isValid()) {
            list_->setCurrentIndex(row);
        }
    }
    showApps();
    showState();
}

void HistoryScreen::showApps() {
    const QStringList names = model_->apps();
    const std::optional<std::string>& chosen = model_->app();
    apps_->clear();
    apps_->addItem(QStringLiteral("All apps"));
    apps_->addItems(names);
    if (chosen) {
        const int at = apps_->findText(text(*chosen), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (at > 0) {
            apps_->setCurrentIndex(at);
        } else {
            // The last dictation of that app is gone: show them all again.
            model_->setApp(std::nullopt);
        }
    }
}

void HistoryScreen::showState() {
    const HistoryStore& history = parts_.history;
    ScreenParts::showProblem(problem_, history.problem());
    const bool isOff = parts_.settings.get(SettingKeys::retention) == Retention::off;
    if (model_->dictationCount() > 0) {
        pages_->setCurrentWidget(list_);
    } else {
        empty_->setText(isOff ? QStringLiteral("History is off")
                        : history.entries().empty() && search_->text().isEmpty()
                            ? QStringLiteral("What you dictate shows up here.")
                            : QStringLiteral("Nothing found."));
        empty_->setAccessibleName(empty_->text());
        pages_->setCurrentWidget(empty_);
    }
    const Dictation* chosen = selected();
    const bool hasText = chosen && chosen->outcome == Outcome::typed;
    copy_->setEnabled(hasText);
    copyAction_->setEnabled(hasText);
    correct_->setEnabled(hasText);
    correctAction_->setEnabled(hasText);
    delete_->setEnabled(chosen != nullptr);
    deleteAction_->setEnabled(chosen != nullptr);
}

const Dictation* HistoryScreen::selected() const {
    const QModelIndexList rows = list_->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? nullptr : model_->dictation(rows.front());
}

void HistoryScreen::copySelected() {
    if (const Dictation* chosen = selected(); chosen && chosen->outcome == Outcome::typed) {
        QGuiApplication::clipboard()->setText(text(chosen->finalText()));
    }
}

void HistoryScreen::correctSelected() {
    const Dictation* chosen = selected();
    if (!chosen || chosen->outcome != Outcome::typed) {
        return;
    }
    auto* dialog = new CorrectionDialog(*chosen, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        parts_.history.correct(dialog->record(), dialog->text().toStdString());
    });
    dialog->open();
}

void HistoryScreen::deleteSelected() {
    const Dictation* chosen = selected();
    if (!chosen) {
        return;
    }
    const int row = list_->currentIndex().row();
    const Dictation record = *chosen;
    std::string recording = parts_.history.recordingOf(record);
    parts_.history.deleteEntry(record);
    deleted_.emplace(record, std::move(recording));
    undoBar_->show();
    undoTimer_ = parts_.scheduler.start(undoSeconds, false, [this] {
        undoTimer_.reset();
        deleted_.reset();
        undoBar_->hide();
    });
    // The next dictation down takes the deleted one's place, else the one above.
    const auto isDictation = [this](int at) {
        return model_->dictation(model_->index(at)) != nullptr;
    };
    int next = row;
    while (next < model_->rowCount() && !isDictation(next)) {
        ++next;
    }
    if (next >= model_->rowCount()) {
        next = std::min(row, model_->rowCount()) - 1;
        while (next >= 0 && !isDictation(next)) {
            --next;
        }
    }
    if (next >= 0) {
        list_->setCurrentIndex(model_->index(next));
    }
}

void HistoryScreen::undoDelete() {
    undoTimer_.reset();
    undoBar_->hide();
    if (!deleted_) {
        return;
    }
    const auto [record, recording] = *std::exchange(deleted_, std::nullopt);
    parts_.history.restore(record, recording);
    chosenId_ = record.id;
    refresh();
}
