#include "WindowFixture.h"
#include "ui/window/CorrectionDialog.h"
#include "ui/window/HistoryModel.h"
#include "ui/window/HistoryScreen.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

class HistoryScreenTest : public WindowFixture {
  protected:
    HistoryScreenTest() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    static Timestamp at(int day, int hour, int minute = 0) {
        return berlin.date(2026, 12, day, hour, minute).value();
    }

    HistoryScreen& make() {
        screen = std::make_unique<HistoryScreen>(*parts);
        screen->show();
        return *screen;
    }

    template <typename Widget = QWidget> Widget* find(const QString& name) const {
        Widget* widget = named<Widget>(screen.get(), name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }

    QListView* list() const { return find<QListView>("Dictations"); }

    // Each row as it reads: a day's title, or the time, the app and the line.
    QStringList rows() const {
        QStringList shown;
        const QAbstractItemModel* model = list()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, 0);
            shown << (index.data(HistoryModel::isDayRole).toBool()
                          ? "# " + index.data().toString()
                          : index.data(HistoryModel::timeRole).toString() + " " +
                                index.data(HistoryModel::appRole).toString() + ": " +
                                index.data().toString());
        }
        return shown;
    }

    void chooseApp(const QString& name) const {
        auto* apps = find<QComboBox>("App");
        const int index = apps->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        apps->setCurrentIndex(index);
        emit apps->activated(index);
    }

    void choose(const QString& line) const {
        QAbstractItemModel* model = list()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, 0).data().toString() == line) {
                list()->setCurrentIndex(model->index(row, 0));
                return;
            }
        }
        ADD_FAILURE() << "no row " << line.toStdString();
    }

    QString emptyText() const {
        auto* empty = screen->findChild<QLabel*>("empty");
        return empty && empty->isVisibleTo(screen.get()) ? empty->text() : QString();
    }

    std::unique_ptr<HistoryScreen> screen;
};

TEST_F(HistoryScreenTest, DaysComeNewestFirstWithEachOutcomeMarked) {
    dictate("first of the month", at(1, 9, 15), "Mail");
    history->add(unheardRecord(at(8, 18, 5), Outcome::failed, "Slack"));
    dictate("late yesterday", at(8, 23, 59), "Slack");
    history->add(unheardRecord(at(9, 0, 0), Outcome::silent, "Editor"));
    dictate("just now", at(9, 9, 30), "Editor");
    // A clock set back: added last, yet from an earlier day.
    dictate("clock was wrong", at(2, 8, 0), "Editor");
    history->correct(history->entries()[1], "just now, fixed");
    make();

    EXPECT_EQ(rows(), QStringList({
                          "# Today",
                          "9:30 AM, corrected Editor: just now, fixed",
                          "12:00 AM Editor: Nothing typed",
                          "# Yesterday",
                          "11:59 PM Slack: late yesterday",
                          "6:05 PM Slack: Couldn't transcribe that",
                          "# Wednesday, December 2, 2026",
                          "8:00 AM Editor: clock was wrong",
                          "# Tuesday, December 1, 2026",
                          "9:15 AM Mail: first of the month",
                      }));
    const QAbstractItemModel* model = list()->model();
    EXPECT_FALSE(model->index(2, 0).data(Qt::DecorationRole).value<QIcon>().isNull())
        << "silent: speaker.slash";
    EXPECT_FALSE(model->index(5, 0).data(Qt::DecorationRole).value<QIcon>().isNull())
        << "failed: warning";
    EXPECT_TRUE(model->index(1, 0).data(Qt::DecorationRole).isNull()) << "typed: no mark";
    EXPECT_EQ(model->index(1, 0).data(Qt::AccessibleTextRole).toString(),
              "9:30 AM, corrected, Editor: just now, fixed");
    // A day's title is read, never chosen.
    EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsSelectable);
}

TEST_F(HistoryScreenTest, SearchAndAppFilterNarrowTheRows) {
    dictate("Send the REPORT on Monday", at(9, 8), "Mail");
    dictate("report is late", at(9, 9), "Slack");
    dictate("lunch at noon", at(9, 9, 30), "Slack");
    dictate("Straße und Köln", at(9, 9, 45), "Editor");
    make();
    auto* search = find<QLineEdit>("Search");

    search->setText("report");
    EXPECT_EQ(rows(), QStringList({"# Today", "9:00 AM Slack: report is late",
                                   "8:00 AM Mail: Send the REPORT on Monday"}));
    search->setText("STRASSE");
    EXPECT_EQ(rows(), QStringList({"# Today", "9:45 AM Editor: Straße und Köln"}));
    search->setText("slack"); // the app's name is searched too
    EXPECT_EQ(rows().size(), 3);

    search->setText("");
    auto* apps = find<QComboBox>("App");
    QStringList names;
    for (int i = 0; i < apps->count(); ++i) {
        names << apps->itemText(i);
    }
    EXPECT_EQ(names, QStringList({"All apps", "Editor", "Mail", "Slack"}));
    chooseApp("Slack");
    EXPECT_EQ(rows(), QStringList({"# Today", "9:30 AM Slack: lunch at noon",
                                   "9:00 AM Slack: report is late"}));
    search->setText("report");
    EXPECT_EQ(rows(), QStringList({"# Today", "9:00 AM Slack: report is late"}));
    search->setText("monday"); // only in Mail
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_EQ(emptyText(), "Nothing found.");

    // A new dictation keeps the search and the filter.
    dictate("another report", at(9, 9, 50), "Slack");
    search->setText("report");
    EXPECT_EQ(rows(), QStringList({"# Today", "9:50 AM Slack: another report",
                                   "9:00 AM Slack: report is late"}));
    EXPECT_EQ(apps->currentText(), "Slack");
    chooseApp("All apps");
    EXPECT_EQ(rows().size(), 4);
}

TEST_F(HistoryScreenTest, CopyCorrectAndDeleteActOnTheChosenDictation) {
    dictate("meet at noon", at(9, 8), "Mail");
    history->add(unheardRecord(at(9, 8, 30), Outcome::silent, "Mail"));
    dictate("the the plan is fine", at(9, 9), "Mail");
    make();
    auto* copy = find<QPushButton>("Copy");
    auto* correct = find<QPushButton>("Correct");
    auto* remove = find<QPushButton>("Delete");
    EXPECT_FALSE(copy->isEnabled() || correct->isEnabled() || remove->isEnabled())
        << "nothing chosen";

    choose("Nothing typed");
    EXPECT_FALSE(copy->isEnabled()) << "a silent dictation has no text";
    EXPECT_FALSE(correct->isEnabled());
    EXPECT_TRUE(remove->isEnabled());

    choose("the the plan is fine");
    copy->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "the the plan is fine");

    correct->click();
    auto* dialog = screen->findChild<CorrectionDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "What did you mean?");
    EXPECT_TRUE(shows(dialog, "It heard: the the plan is fine"));
    named<QPlainTextEdit>(dialog, "What you said")->setPlainText("the plan is fine");
    named<QPushButton>(dialog, "Save correction")->click();
    EXPECT_EQ(history->entries()[0].corrected, "the plan is fine");
    EXPECT_NE(readAll(paths.history()).find(R"("corrected":"the plan is fine")"),
              std::string::npos);
    EXPECT_EQ(list()->currentIndex().data().toString(), "the plan is fine")
        << "the corrected dictation stays chosen";
    EXPECT_TRUE(
        list()->currentIndex().data(HistoryModel::timeRole).toString().endsWith(", corrected"));

    // Cancel stores nothing.
    const std::string before = readAll(paths.history());
    correct->click();
    dialog = screen->findChildren<CorrectionDialog*>().last();
    named<QPlainTextEdit>(dialog, "What you said")->setPlainText("something else");
    named<QPushButton>(dialog, "Cancel")->click();
    EXPECT_EQ(readAll(paths.history()), before);

    // Delete (the button, then the list's own key) takes the next dictation down.
    remove->click();
    EXPECT_EQ(rows(), QStringList({"# Today", "8:30 AM Mail: Nothing typed",
                                   "8:00 AM Mail: meet at noon"}));
    EXPECT_EQ(list()->currentIndex().data().toString(), "Nothing typed");
    QAction* deleteAction = nullptr;
    for (QAction* action : list()->actions()) {
        if (action->text() == "Delete") {
            deleteAction = action;
        }
    }
    ASSERT_NE(deleteAction, nullptr);
    EXPECT_EQ(deleteAction->shortcut(), QKeySequence(QKeySequence::Delete));
    deleteAction->trigger();
    deleteAction->trigger();
    EXPECT_EQ(history->entries().size(), 0u);
    EXPECT_EQ(readAll(paths.history()), "");
    EXPECT_EQ(emptyText(), "What you dictate shows up here.");
}

TEST_F(HistoryScreenTest, ADeleteCanBeUndoneForAFewSecondsRecordingAndPlaceIncluded) {
    settings.set(SettingKeys::keepAudio, true);
    dictate("meet at noon", at(9, 8), "Mail");
    const Dictation middle = typedRecord(at(9, 9), "the plan is fine", "Mail");
    history->add(middle, "RIFF recording");
    dictate("see you there", at(9, 10), "Mail");
    make();
    auto* undo = find<QPushButton>("Undo");
    EXPECT_FALSE(undo->isVisibleTo(screen.get()));

    choose("the plan is fine");
    find<QPushButton>("Delete")->click();
    ASSERT_EQ(history->entries().size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(history->recordingFile(middle)));
    EXPECT_TRUE(undo->isVisibleTo(screen.get()));
    EXPECT_TRUE(shows(screen.get(), "Dictation deleted."));
    scheduler.advanceBy(HistoryScreen::undoSeconds - 1);
    undo->click();
    ASSERT_EQ(history->entries().size(), 3u);
    EXPECT_EQ(history->entries()[1].id, middle.id) << "back in its place";
    EXPECT_EQ(readAll(history->recordingFile(middle)), "RIFF recording");
    EXPECT_EQ(list()->currentIndex().data().toString(), "the plan is fine");
    EXPECT_FALSE(undo->isVisibleTo(screen.get()));
    EXPECT_EQ(history->totals().words, 10) << "the totals count it once";

    // Left alone, the offer goes and the delete stands.
    find<QPushButton>("Delete")->click();
    scheduler.advanceBy(HistoryScreen::undoSeconds);
    EXPECT_FALSE(undo->isVisibleTo(screen.get()));
    EXPECT_EQ(history->entries().size(), 2u);
}

TEST_F(HistoryScreenTest, TheLastDictationOfTheChosenAppGoneShowsAllApps) {
    dictate("only one", at(9, 8), "Notes");
    dictate("other", at(9, 9), "Mail");
    make();
    chooseApp("Notes");
    choose("only one");
    find<QPushButton>("Delete")->click();
    EXPECT_EQ(find<QComboBox>("App")->currentText(), "All apps");
    EXPECT_EQ(rows(), QStringList({"# Today", "9:00 AM Mail: other"}));
}

TEST_F(HistoryScreenTest, RetentionOffSaysHistoryIsOff) {
    dictate("kept for now", at(9, 8));
    make();
    EXPECT_EQ(rows().size(), 2);
    settings.set(SettingKeys::retention, Retention::off);
    history->purge();
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_EQ(emptyText(), "History is off");
    dictate("not kept", at(9, 9));
    EXPECT_EQ(emptyText(), "History is off");
    settings.set(SettingKeys::retention, Retention::month);
    EXPECT_EQ(emptyText(), "What you dictate shows up here.");
}

TEST_F(HistoryScreenTest, AStoreProblemShowsAboveTheList) {
    std::filesystem::create_directories(paths.history()); // a folder where the file belongs
    open();
    ASSERT_TRUE(history->problem().has_value());
    make();
    auto* problem = find<QLabel>("Problem");
    EXPECT_TRUE(problem->isVisibleTo(screen.get()));
    EXPECT_EQ(problem->text().toStdString(), *history->problem());
    EXPECT_TRUE(problem->text().startsWith("History couldn't be saved: "));
    EXPECT_TRUE(std::filesystem::is_directory(paths.history())) << "nothing written over it";
}

TEST_F(HistoryScreenTest, ControlsAreNamedAndInTabOrder) {
    dictate("one", at(9, 8));
    make();
    choose("one");
    QStringList stops;
    for (QWidget* widget = screen->nextInFocusChain(); widget != screen.get();
         widget = widget->nextInFocusChain()) {
        if (screen->isAncestorOf(widget) && widget->isVisibleTo(screen.get()) &&
            widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
            stops << widget->accessibleName();
        }
    }
    EXPECT_EQ(stops, QStringList({"Search", "App", "Dictations", "Copy", "Correct", "Delete"}));
}

} // namespace
