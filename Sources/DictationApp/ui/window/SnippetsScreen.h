#pragma once

#include "ui/window/AppState.h"

#include <QWidget>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QPlainTextEdit;
class QPushButton;
class StoreListModel;

// Snippets: short spoken phrases and the long text each types. The form lives as long as the
// screen, so a half-written snippet waits while the user looks elsewhere.
class SnippetsScreen : public QWidget {
    Q_OBJECT
  public:
    explicit SnippetsScreen(SnippetStore& snippets, QWidget* parent = nullptr);

  private:
    void submit();
    void cancel();
    void editSelected();
    void removeSelected();
    void clearForm();
    void showState();

    SnippetStore& snippets_;
    QLabel* problem_;
    QLineEdit* phrase_;
    QPlainTextEdit* text_;
    QPushButton* submit_;
    QPushButton* cancel_;
    QListView* list_;
    StoreListModel* model_;
    QPushButton* edit_;
    QPushButton* remove_;
    QAction* removeAction_;
    // The id of the snippet the form changes; nothing while it makes a new one.
    std::optional<std::string> editing_;
};
