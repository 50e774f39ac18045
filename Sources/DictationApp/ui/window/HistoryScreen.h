#pragma once

#include "Dictation.h"
#include "ui/window/AppState.h"

#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <utility>

class HistoryModel;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;

// History: every kept dictation, searched and filtered by app, grouped by day, newest first;
// each can be copied, corrected or deleted.
class HistoryScreen : public QWidget {
    Q_OBJECT
  public:
    // How long "Undo" is offered after a delete.
    static constexpr double undoSeconds = 8;

    explicit HistoryScreen(const AppParts& parts, QWidget* parent = nullptr);

    HistoryModel& model() const { return *model_; }

  private:
    void showApps();
    void showState();
    // Lists the store again, keeping the chosen dictation and the scroll position.
    void refresh();
    void copySelected();
    void correctSelected();
    void deleteSelected();
    void undoDelete();
    const Dictation* selected() const;

    const AppParts& parts_;
    std::string chosenId_;
    HistoryModel* model_ = nullptr;
    QLabel* problem_ = nullptr;
    QLineEdit* search_ = nullptr;
    QComboBox* apps_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QListView* list_ = nullptr;
    QLabel* empty_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* correct_ = nullptr;
    QPushButton* delete_ = nullptr;
    QAction* copyAction_ = nullptr;
    QAction* correctAction_ = nullptr;
    QAction* deleteAction_ = nullptr;
    QWidget* undoBar_ = nullptr;
    // The dictation just deleted and its recording, while "Undo" is offered.
    std::optional<std::pair<Dictation, std::string>> deleted_;
    std::unique_ptr<Scheduler::Timer> undoTimer_;
};
