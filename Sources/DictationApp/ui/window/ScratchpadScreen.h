#pragma once

#include "platform/Scheduler.h"
#include "ui/window/AppState.h"

#include <QWidget>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QListView;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class StoreListModel;

// Scratchpad: notes, each saved as it is edited: shortly after typing stops, and at once when
// another note opens, the screen hides or the app quits.
class ScratchpadScreen : public QWidget {
    Q_OBJECT
  public:
    explicit ScratchpadScreen(NoteStore& notes, const Clock& clock, Scheduler& scheduler,
                              QWidget* parent = nullptr);

    // How long typing must pause before the note is written.
    static constexpr double savePause = 0.8;

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void newNote();
    void open(const std::optional<std::string>& id);
    // Writes the open note's text if it has changed.
    void saveNow();
    void typed();
    void askToDelete();
    void deleteConfirmed();
    void showList();
    void showState();

    NoteStore& notes_;
    const Clock& clock_;
    Scheduler& scheduler_;
    QLabel* problem_;
    QToolButton* new_;
    QToolButton* delete_;
    QListView* list_;
    StoreListModel* model_;
    QPlainTextEdit* editor_;
    QMessageBox* confirm_;
    QPushButton* confirmDelete_;
    std::optional<std::string> open_;
    // The note the confirmation asks about.
    std::optional<std::string> deleting_;
    std::unique_ptr<Scheduler::Timer> pending_;
    bool showing_ = false; // the screen itself changes the list or the editor
};
