#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class StoreListModel;

// Words: the names and terms the recogniser should spell correctly.
class WordsScreen : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* emptyText =
        "No words yet. Add the names of people, places and products you say, and the terms of "
        "your work, so dictation spells them your way.";
    explicit WordsScreen(WordStore& words, QWidget* parent = nullptr);

  private:
    void add();
    void removeSelected();
    void showState();

    WordStore& words_;
    QLabel* problem_;
    QLabel* empty_;
    QLineEdit* field_;
    QPushButton* add_;
    QListView* list_;
    StoreListModel* model_;
    QPushButton* remove_;
    QAction* removeAction_;
};
