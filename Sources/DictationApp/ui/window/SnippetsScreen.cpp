#include "ui/window/SnippetsScreen.h"

#include "storage/Stores.h"
#include "ui/window/Icons.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/StoreListModel.h"

#include <QAction>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using ScreenParts::text;

namespace {

// One line for the list: the phrase, then the start of what it types.
QString summary(const Snippet& snippet) {
    QString typed = text(snippet.text).simplified();
    constexpr int shown = 80;
    if (typed.size() > shown) {
        typed = typed.left(shown) + QStringLiteral("…");
    }
    return text(snippet.phrase) + QStringLiteral("  →  ") + typed;
}

} // namespace

SnippetsScreen::SnippetsScreen(SnippetStore& snippets, QWidget* parent)
    : QWidget(parent), snippets_(snippets) {
    auto* layout = ScreenParts::column(this);
    layout->addWidget(ScreenParts::heading(QStringLiteral("Snippets")));
    layout->addWidget(
        ScreenParts::note(QStringLiteral("Say a short phrase and it types the long version.")));
    problem_ = ScreenParts::problemLine();
    layout->addWidget(problem_);

    phrase_ = new QLineEdit;
    phrase_->setPlaceholderText(QStringLiteral("When I say, e.g. my meeting link"));
    phrase_->setAccessibleName(phrase_->placeholderText());
    ScreenParts::makeFindTarget(phrase_);
    auto* phraseLabel = new QLabel(QStringLiteral("When I say"));
    phraseLabel->setBuddy(phrase_);
    layout->addWidget(phraseLabel);
    layout->addWidget(phrase_);
    text_ = new QPlainTextEdit;
    text_->setPlaceholderText(QStringLiteral("Type this"));
    text_->setAccessibleName(text_->placeholderText());
    text_->setTabChangesFocus(true);
    // About four lines, in the font's own units so it scales with the screen.
    text_->setFixedHeight(text_->fontMetrics().lineSpacing() * 4 + 2 * text_->frameWidth() + 8);
    auto* textLabel = new QLabel(QStringLiteral("Type this"));
    textLabel->setBuddy(text_);
    layout->addWidget(textLabel);
    layout->addWidget(text_);

    auto* formButtons = new QHBoxLayout;
    formButtons->addStretch();
    cancel_ = new QPushButton(QStringLiteral("Cancel"));
    cancel_->setAccessibleName(cancel_->text());
    formButtons->addWidget(cancel_);
    submit_ = new QPushButton(QStringLiteral("Add snippet"));
    submit_->setAccessibleName(submit_->text());
    formButtons->addWidget(submit_);
    layout->addLayout(formButtons);

    model_ = new StoreListModel({[&snippets] {
                                     std::vector<QString> keys;
                                     keys.reserve(snippets.items().size());
                                     for (const auto& snippet : snippets.items()) {
                                         keys.push_back(text(snippet.id));
                                     }
                                     return keys;
                                 },
                                 [&snippets](std::size_t row, int role) -> QVariant {
                                     if (row >= snippets.items().size()) {
                                         return {};
                                     }
                                     const Snippet& snippet = snippets.items()[row];
                                     switch (role) {
                                     case Qt::DisplayRole:
                                         return summary(snippet);
                                     case Qt::ToolTipRole:
                                         return text(snippet.text);
                                     case Qt::AccessibleTextRole:
                                         return text(snippet.phrase) + QStringLiteral(": ") +
                                                text(snippet.text);
                                     default:
                                         return {};
                                     }
                                 }},
                                this);
    // Delete on the list, or its context menu, removes the selected row as the button does.
    list_ = model_->view(QStringLiteral("Your snippets"), &removeAction_);
    layout->addWidget(list_, 1);

    auto* rowButtons = new QHBoxLayout;
    rowButtons->addStretch();
    edit_ = new QPushButton(Icons::symbol("pencil"), QStringLiteral("Edit"));
    edit_->setAccessibleName(edit_->text());
    rowButtons->addWidget(edit_);
    remove_ = new QPushButton(Icons::symbol("trash"), QStringLiteral("Remove"));
    remove_->setAccessibleName(remove_->text());
    rowButtons->addWidget(remove_);
    layout->addLayout(rowButtons);

    setTabOrder(phrase_, text_);
    setTabOrder(text_, cancel_);
    setTabOrder(cancel_, submit_);
    setTabOrder(submit_, list_);
    setTabOrder(list_, edit_);
    setTabOrder(edit_, remove_);

    connect(phrase_, &QLineEdit::returnPressed, text_, [this] { text_->setFocus(); });
    connect(phrase_, &QLineEdit::textChanged, this, &SnippetsScreen::showState);
    connect(text_, &QPlainTextEdit::textChanged, this, &SnippetsScreen::showState);
    connect(submit_, &QPushButton::clicked, this, &SnippetsScreen::submit);
    connect(cancel_, &QPushButton::clicked, this, &SnippetsScreen::cancel);
    connect(edit_, &QPushButton::clicked, this, &SnippetsScreen::editSelected);
    connect(list_, &QListView::activated, this, &SnippetsScreen::editSelected);
    connect(remove_, &QPushButton::clicked, this, &SnippetsScreen::removeSelected);
    connect(removeAction_, &QAction::triggered, this, &SnippetsScreen::removeSelected);
    connect(&snippets, &SnippetStore::itemsChanged, model_, &StoreListModel::refresh);
    connect(&snippets, &SnippetStore::itemsChanged, this, &SnippetsScreen::showState);
    connect(&snippets, &SnippetStore::problemChanged, this, &SnippetsScreen::showState);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SnippetsScreen::showState);
    connect(model_, &QAbstractItemModel::modelReset, this, &SnippetsScreen::showState);
    showState();
}

void SnippetsScreen::submit() {
    SnippetStore& snippets = snippets_;
    if (!snippets.isLoaded()) {
        return;
    }
    // The store says whether it went through; otherwise the form keeps what was typed.
    if (snippets.addOrChange(phrase_->text().toStdString(), text_->toPlainText().toStdString(),
                             editing_)) {
        clearForm();
    }
}

void SnippetsScreen::cancel() {
    clearForm();
}

void SnippetsScreen::editSelected() {
    const SnippetStore& snippets = snippets_;
    const QModelIndex current = list_->selectionModel()->currentIndex();
    if (!snippets.isLoaded() || !current.isValid()) {
        return;
    }
    const auto row = static_cast<std::size_t>(current.row());
    if (row >= snippets.items().size()) {
        return;
    }
    const Snippet& snippet = snippets.items()[row];
    editing_ = snippet.id;
    phrase_->setText(text(snippet.phrase));
    text_->setPlainText(text(snippet.text));
    phrase_->setFocus();
    showState();
}

void SnippetsScreen::removeSelected() {
    SnippetStore& snippets = snippets_;
    const QModelIndex current = list_->selectionModel()->currentIndex();
    if (!snippets.isLoaded() || !list_->selectionModel()->isSelected(current)) {
        return;
    }
    const std::string id = model_->key(current).toStdString();
    std::vector<Snippet> list = snippets.items();
    std::erase_if(list, [&](const Snippet& snippet) { return snippet.id == id; });
    // A form changing this snippet keeps its text and would add it anew.
    if (editing_ == id) {
        editing_.reset();
    }
    const int row = current.row();
    snippets.save(std::move(list));
    if (model_->rowCount() > 0) {
        list_->setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1)));
    }
    showState();
}

void SnippetsScreen::clearForm() {
    editing_.reset();
    phrase_->clear();
    text_->clear();
    showState();
}

void SnippetsScreen::showState() {
    const SnippetStore& snippets = snippets_;
    ScreenParts::showProblem(problem_, snippets.problem());
    const bool loaded = snippets.isLoaded();
    const bool filled =
        !phrase_->text().trimmed().isEmpty() && !text_->toPlainText().trimmed().isEmpty();
    submit_->setText(editing_ ? QStringLiteral("Save") : QStringLiteral("Add snippet"));
    submit_->setAccessibleName(submit_->text());
    submit_->setEnabled(loaded && filled);
    phrase_->setEnabled(loaded);
    text_->setEnabled(loaded);
    // Cancel drops a change, or a new snippet half written.
    cancel_->setVisible(editing_.has_value() || !phrase_->text().isEmpty() ||
                        !text_->toPlainText().isEmpty());
    const bool selected = list_->selectionModel()->hasSelection();
    edit_->setEnabled(loaded && selected);
    remove_->setEnabled(loaded && selected);
    removeAction_->setEnabled(loaded && selected);
}
