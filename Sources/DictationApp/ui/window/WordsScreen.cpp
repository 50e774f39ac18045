#include "ui/window/WordsScreen.h"

#include "Vocabulary.h"
#include "storage/Stores.h"
#include "ui/window/Icons.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/StoreListModel.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

using ScreenParts::text;

WordsScreen::WordsScreen(WordStore& words, QWidget* parent) : QWidget(parent), words_(words) {
    auto* layout = ScreenParts::column(this);
    layout->addWidget(ScreenParts::heading(QStringLiteral("Words")));
    layout->addWidget(ScreenParts::note(QStringLiteral("Names and terms to spell correctly.")));
    problem_ = ScreenParts::problemLine();
    layout->addWidget(problem_);

    auto* row = new QHBoxLayout;
    field_ = new QLineEdit;
    field_->setPlaceholderText(QStringLiteral("Add a name or term"));
    field_->setAccessibleName(field_->placeholderText());
    ScreenParts::makeFindTarget(field_);
    field_->setClearButtonEnabled(true);
    row->addWidget(field_, 1);
    add_ = new QPushButton(QStringLiteral("Add"));
    add_->setAccessibleName(add_->text());
    row->addWidget(add_);
    layout->addLayout(row);

    model_ =
        new StoreListModel({[&words] {
                                std::vector<QString> keys;
                                keys.reserve(words.terms().size());
                                for (const auto& term : words.terms()) {
                                    keys.push_back(text(term));
                                }
                                return keys;
                            },
                            [&words](std::size_t row, int role) -> QVariant {
                                if ((role == Qt::DisplayRole || role == Qt::AccessibleTextRole) &&
                                    row < words.terms().size()) {
                                    return text(words.terms()[row]);
                                }
                                return {};
                            }},
                           this);
    // Delete on the list, or its context menu, removes the selected row as the button does.
    list_ = model_->view(QStringLiteral("Your words"), &removeAction_);
    layout->addWidget(list_, 1);
    empty_ = ScreenParts::note(emptyText);
    empty_->setWordWrap(true);
    layout->addWidget(empty_);

    auto* actions = new QHBoxLayout;
    actions->addStretch();
    remove_ = new QPushButton(Icons::symbol("trash"), QStringLiteral("Remove"));
    remove_->setAccessibleName(remove_->text());
    actions->addWidget(remove_);
    layout->addLayout(actions);

    setTabOrder(field_, add_);
    setTabOrder(add_, list_);
    setTabOrder(list_, remove_);

    connect(field_, &QLineEdit::returnPressed, this, &WordsScreen::add);
    connect(field_, &QLineEdit::textChanged, this, &WordsScreen::showState);
    connect(add_, &QPushButton::clicked, this, &WordsScreen::add);
    connect(remove_, &QPushButton::clicked, this, &WordsScreen::removeSelected);
    connect(removeAction_, &QAction::triggered, this, &WordsScreen::removeSelected);
    connect(&words, &WordStore::termsChanged, model_, &StoreListModel::refresh);
    connect(&words, &WordStore::termsChanged, this, &WordsScreen::showState);
    connect(&words, &WordStore::problemChanged, this, &WordsScreen::showState);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &WordsScreen::showState);
    connect(model_, &QAbstractItemModel::modelReset, this, &WordsScreen::showState);
    showState();
}

void WordsScreen::add() {
    WordStore& words = words_;
    if (!words.isLoaded()) {
        return;
    }
    const std::string term = field_->text().toStdString();
    auto list = Vocabulary::adding(term, words.terms());
    if (list.size() == words.terms().size()) {
        // Blank, a comment, or already listed: point at the one there, if any.
        const auto listed = Vocabulary::adding(term, {});
        if (!listed.empty()) {
            for (std::size_t row = 0; row < words.terms().size(); ++row) {
                if (QString::compare(text(words.terms()[row]), text(listed.front()),
                                     Qt::CaseInsensitive) == 0) {
                    list_->setCurrentIndex(model_->index(static_cast<int>(row)));
                    field_->clear();
                    break;
                }
            }
        }
        return;
    }
    words.save(list);
    // A failed save leaves the old list; the field keeps what was typed.
    if (words.terms() == list) {
        field_->clear();
        list_->setCurrentIndex(model_->index(static_cast<int>(list.size()) - 1));
    }
}

void WordsScreen::removeSelected() {
    WordStore& words = words_;
    const QModelIndex current = list_->selectionModel()->currentIndex();
    if (!words.isLoaded() || !list_->selectionModel()->isSelected(current)) {
        return;
    }
    const QString key = model_->key(current);
    std::vector<std::string> list;
    for (const auto& term : words.terms()) {
        if (text(term) != key) {
            list.push_back(term);
        }
    }
    const int row = current.row();
    words.save(list);
    if (model_->rowCount() > 0) {
        list_->setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1)));
    }
}

void WordsScreen::showState() {
    const WordStore& words = words_;
    ScreenParts::showProblem(problem_, words.problem());
    const bool loaded = words.isLoaded();
    field_->setEnabled(loaded);
    add_->setEnabled(loaded && !field_->text().trimmed().isEmpty());
    const bool selected = list_->selectionModel()->hasSelection();
    remove_->setEnabled(loaded && selected);
    removeAction_->setEnabled(loaded && selected);
    empty_->setVisible(loaded && words.terms().empty());
}
