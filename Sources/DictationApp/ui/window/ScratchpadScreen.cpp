#include "ui/window/ScratchpadScreen.h"

#include "storage/Stores.h"
#include "ui/window/Icons.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/StoreListModel.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

using ScreenParts::text;

namespace {

const Note* noteWith(const NoteStore& notes, const std::string& id) {
    for (const Note& note : notes.items()) {
        if (note.id == id) {
            return &note;
        }
    }
    return nullptr;
}

QToolButton* toolButton(const char* symbol, const QString& label) {
    auto* button = new QToolButton;
    button->setIcon(Icons::symbol(symbol));
    button->setText(label);
    button->setAccessibleName(label);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return button;
}

} // namespace

ScratchpadScreen::ScratchpadScreen(NoteStore& notes, const Clock& clock, Scheduler& scheduler,
                                   QWidget* parent)
    : QWidget(parent), notes_(notes), clock_(clock), scheduler_(scheduler) {
    auto* layout = ScreenParts::column(this);
    layout->addWidget(ScreenParts::heading(QStringLiteral("Scratchpad")));
    layout->addWidget(ScreenParts::note(QStringLiteral("A place to think out loud")));
    problem_ = ScreenParts::problemLine();
    layout->addWidget(problem_);

    auto* bar = new QHBoxLayout;
    new_ = toolButton("square.and.pencil", QStringLiteral("New note"));
    bar->addWidget(new_);
    bar->addStretch();
    delete_ = toolButton("trash", QStringLiteral("Delete"));
    bar->addWidget(delete_);
    layout->addLayout(bar);

    model_ = new StoreListModel(
        {[&notes] {
             std::vector<QString> keys;
             keys.reserve(notes.items().size());
             for (const Note& note : notes.items()) {
                 keys.push_back(text(note.id));
             }
             return keys;
         },
         [&notes, calendar = clock.calendar()](std::size_t row, int role) -> QVariant {
             if (row >= notes.items().size()) {
                 return {};
             }
             const Note& note = notes.items()[row];
             switch (role) {
             case Qt::DisplayRole:
             case Qt::AccessibleTextRole:
                 return text(note.title());
             case Qt::ToolTipRole:
                 return text(calendar.dayKey(note.date));
             default:
                 return {};
             }
         }},
        this);
    list_ = model_->view(QStringLiteral("Notes"));

    editor_ = new QPlainTextEdit;
    editor_->setAccessibleName(QStringLiteral("Note"));
    editor_->setTabChangesFocus(true);

    auto* split = new QSplitter;
    split->setChildrenCollapsible(false);
    split->addWidget(list_);
    split->addWidget(editor_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    layout->addWidget(split, 1);

    confirm_ = new QMessageBox(QMessageBox::Question, QString(),
                               QStringLiteral("Delete this note?"), QMessageBox::NoButton, this);
    confirm_->setAccessibleName(confirm_->text());
    confirm_->setWindowModality(Qt::WindowModal);
    confirmDelete_ = confirm_->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    confirmDelete_->setAccessibleName(confirmDelete_->text());
    QPushButton* keep = confirm_->addButton(QMessageBox::Cancel);
    keep->setAccessibleName(keep->text());
    confirm_->setDefaultButton(keep);

    setTabOrder(new_, delete_);
    setTabOrder(delete_, list_);
    setTabOrder(list_, editor_);

    connect(new_, &QToolButton::clicked, this, &ScratchpadScreen::newNote);
    connect(delete_, &QToolButton::clicked, this, &ScratchpadScreen::askToDelete);
    connect(confirm_, &QMessageBox::finished, this, [this] {
        if (confirm_->clickedButton() == confirmDelete_) {
            deleteConfirmed();
        }
        deleting_.reset();
    });
    connect(editor_, &QPlainTextEdit::textChanged, this, &ScratchpadScreen::typed);
    connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!showing_ && current.isValid()) {
                    open(model_->key(current).toStdString());
                }
            });
    connect(&notes, &NoteStore::itemsChanged, this, &ScratchpadScreen::showList);
    connect(&notes, &NoteStore::problemChanged, this, &ScratchpadScreen::showState);
    // A quit that skips hiding the window still keeps the last words typed.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            &ScratchpadScreen::saveNow);

    if (!notes.items().empty()) {
        open(notes.items().front().id);
    } else {
        showState();
    }
}

void ScratchpadScreen::hideEvent(QHideEvent* event) {
    saveNow();
    QWidget::hideEvent(event);
}

void ScratchpadScreen::newNote() {
    saveNow();
    if (const auto id = notes_.addNote()) {
        open(*id);
        editor_->setFocus();
    }
}

void ScratchpadScreen::open(const std::optional<std::string>& id) {
    if (open_ == id) {
        return;
    }
    saveNow();
    const Note* note = id ? noteWith(notes_, *id) : nullptr;
    open_ = note ? std::optional(note->id) : std::nullopt;
    showing_ = true;
    editor_->setPlainText(note ? text(note->text) : QString());
    showing_ = false;
    showList();
}

void ScratchpadScreen::typed() {
    if (showing_) {
        return;
    }
    // Typing into the empty scratchpad starts a note.
    if (!open_ && !editor_->toPlainText().isEmpty()) {
        const auto id = notes_.addNote();
        if (!id) {
            return;
        }
        open_ = id;
        showList();
    }
    if (!open_) {
        return;
    }
    pending_ = scheduler_.start(savePause, false, [this] { saveNow(); });
}

void ScratchpadScreen::saveNow() {
    pending_.reset();
    if (open_) {
        // The store leaves a note whose text did not change alone.
        notes_.editNote(*open_, editor_->toPlainText().toStdString());
    }
}

void ScratchpadScreen::askToDelete() {
    if (!open_ || !notes_.isLoaded()) {
        return;
    }
    saveNow();
    deleting_ = open_;
    confirm_->open();
}

void ScratchpadScreen::deleteConfirmed() {
    if (!deleting_) {
        return;
    }
    NoteStore& notes = notes_;
    const int row = model_->find(text(*deleting_)).row();
    const bool wasOpen = open_ == deleting_;
    if (wasOpen) {
        pending_.reset();
    }
    notes.deleteNote(*deleting_);
    if (wasOpen && row >= 0) {
        // The note that took its place, else the one above it, else none.
        std::optional<std::string> next;
        if (!notes.items().empty()) {
            next =
                notes.items()[std::min(static_cast<std::size_t>(row), notes.items().size() - 1)].id;
        }
        open(next);
    }
}

void ScratchpadScreen::showList() {
    showing_ = true;
    model_->refresh();
    const QModelIndex current = open_ ? model_->find(text(*open_)) : QModelIndex();
    if (current.isValid()) {
        list_->selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect);
    } else {
        list_->selectionModel()->clear();
    }
    showing_ = false;
    showState();
}

void ScratchpadScreen::showState() {
    const NoteStore& notes = notes_;
    ScreenParts::showProblem(problem_, notes.problem());
    const bool loaded = notes.isLoaded();
    new_->setEnabled(loaded);
    delete_->setEnabled(loaded && open_.has_value());
    editor_->setEnabled(loaded && (open_.has_value() || notes.items().empty()));
    editor_->setPlaceholderText(loaded && notes.items().empty()
                                    ? QStringLiteral("Start typing to make a note")
                                    : QString());
}
