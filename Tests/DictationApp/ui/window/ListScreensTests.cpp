#include "WindowFixture.h"
#include "ui/window/MainWindow.h"
#include "ui/window/MainWindowView.h"
#include "ui/window/ScratchpadScreen.h"
#include "ui/window/SnippetsScreen.h"
#include "ui/window/StyleScreen.h"
#include "ui/window/WordsScreen.h"

#include <QAccessible>
#include <QAction>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace {

class ListScreensTest : public WindowFixture {
  protected:
    template <typename Screen, typename... Parts> Screen& make(Parts&&... parts) {
        screen = std::make_unique<Screen>(std::forward<Parts>(parts)...);
        screen->show();
        return static_cast<Screen&>(*screen);
    }
    // The next run of the app: the screen goes, the stores read their files again.
    void reopen() {
        screen.reset();
        open();
    }

    template <typename Widget = QWidget> Widget* find(const QString& name) const {
        Widget* widget = named<Widget>(screen.get(), name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }

    static void press(QWidget* widget, int key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(widget, &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(widget, &up);
    }

    static QStringList rows(QListView* list) {
        QStringList shown;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            shown << list->model()->index(row, 0).data().toString();
        }
        return shown;
    }

    static void select(QListView* list, int row) {
        list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect);
    }

    // What Tab visits, in order: the screen's enabled, visible controls that take tab focus.
    static QStringList tabStops(QWidget* root) {
        QStringList names;
        for (QWidget* widget = root->nextInFocusChain(); widget != root;
             widget = widget->nextInFocusChain()) {
            if (root->isAncestorOf(widget) && widget->isVisibleTo(root) && widget->isEnabled() &&
                (widget->focusPolicy() & Qt::TabFocus)) {
                names << widget->accessibleName();
            }
        }
        return names;
    }

    std::unique_ptr<QWidget> screen;
};

TEST_F(ListScreensTest, WordsAreAddedOnceRemovedAndKeptInTheFile) {
    make<WordsScreen>(*words);
    EXPECT_TRUE(shows(screen.get(), "Names and terms to spell correctly."));
    auto* field = find<QLineEdit>("Add a name or term");
    auto* add = find<QPushButton>("Add");
    auto* list = find<QListView>("Your words");
    auto* remove = find<QPushButton>("Remove");
    EXPECT_FALSE(add->isEnabled()) << "nothing typed yet";
    EXPECT_FALSE(remove->isEnabled()) << "nothing selected";

    field->setText("Kubernetes");
    add->click();
    EXPECT_EQ(field->text(), "");
    field->setText("  Grafana   Cloud ");
    press(field, Qt::Key_Return);
    field->setText("Ada Lovelace");
    press(field, Qt::Key_Enter);
    EXPECT_EQ(rows(list), QStringList({"Kubernetes", "Grafana Cloud", "Ada Lovelace"}));

    // A blank line, a comment or a term already listed (in any case) adds nothing.
    for (const char* typed : {"   ", "# a comment", "grafana  cloud"}) {
        field->setText(typed);
        press(field, Qt::Key_Return);
        EXPECT_EQ(words->terms().size(), 3u) << typed;
    }
    EXPECT_EQ(list->currentIndex().row(), 1) << "the listed term is pointed at";
    EXPECT_EQ(readAll(paths.vocabulary()), "Kubernetes\nGrafana Cloud\nAda Lovelace\n");

    select(list, 0);
    ASSERT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(rows(list), QStringList({"Grafana Cloud", "Ada Lovelace"}));
    // Delete on the list does the same to the selected row.
    QAction* removeAction = list->actions().value(0);
    ASSERT_NE(removeAction, nullptr);
    EXPECT_EQ(removeAction->shortcut(), QKeySequence(QKeySequence::Delete));
    select(list, 1);
    removeAction->trigger();
    EXPECT_EQ(rows(list), QStringList({"Grafana Cloud"}));

    reopen();
    EXPECT_EQ(words->terms(), std::vector<std::string>({"Grafana Cloud"}));
    EXPECT_EQ(rows(named<QListView>(&make<WordsScreen>(*words), "Your words")),
              QStringList({"Grafana Cloud"}));
}

TEST_F(ListScreensTest, SnippetsAreAddedEditedCancelledAndRemoved) {
    make<SnippetsScreen>(*snippets);
    EXPECT_TRUE(shows(screen.get(), "Say a short phrase and it types the long version."));
    auto* phrase = find<QLineEdit>("When I say, e.g. my meeting link");
    auto* typed = find<QPlainTextEdit>("Type this");
    auto* submit = find<QPushButton>("Add snippet");
    auto* cancel = find<QPushButton>("Cancel");
    auto* list = find<QListView>("Your snippets");
    auto* edit = find<QPushButton>("Edit");
    auto* remove = find<QPushButton>("Remove");

    phrase->setText("my  meeting link");
    EXPECT_FALSE(submit->isEnabled()) << "no text to type yet";
    EXPECT_TRUE(cancel->isVisibleTo(screen.get())) << "a new snippet can be dropped";
    typed->setPlainText("https://meet.example/abc");
    submit->click();
    phrase->setText("sign off");
    typed->setPlainText("Best,\nAda");
    submit->click();
    ASSERT_EQ(snippets->items().size(), 2u);
    EXPECT_EQ(snippets->items()[1].phrase, "my meeting link") << "spaces collapsed";
    EXPECT_EQ(phrase->text(), "");
    EXPECT_EQ(typed->toPlainText(), "");
    EXPECT_FALSE(cancel->isVisibleTo(screen.get()));
    const QStringList shown = rows(list);
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].startsWith("sign off")) << "newest first";
    EXPECT_TRUE(shown[1].startsWith("my meeting link"));
    const std::string linkId = snippets->items()[1].id;

    select(list, 1);
    edit->click();
    EXPECT_EQ(phrase->text(), "my meeting link");
    EXPECT_EQ(typed->toPlainText(), "https://meet.example/abc");
    EXPECT_EQ(submit->accessibleName(), "Save");
    EXPECT_TRUE(cancel->isVisibleTo(screen.get()));
    typed->setPlainText("https://meet.example/xyz");
    submit->click();
    ASSERT_EQ(snippets->items().size(), 2u) << "changed, not added";
    EXPECT_EQ(snippets->items()[0].id, linkId);
    EXPECT_EQ(snippets->items()[0].text, "https://meet.example/xyz");
    EXPECT_EQ(submit->accessibleName(), "Add snippet");
    EXPECT_EQ(phrase->text(), "");

    const std::string before = readAll(paths.snippets());
    select(list, 0);
    edit->click();
    typed->setPlainText("never kept");
    cancel->click();
    EXPECT_EQ(phrase->text(), "");
    EXPECT_EQ(typed->toPlainText(), "");
    EXPECT_EQ(submit->accessibleName(), "Add snippet");
    EXPECT_EQ(snippets->items()[0].text, "https://meet.example/xyz");
    EXPECT_EQ(readAll(paths.snippets()), before);

    select(list, 1);
    remove->click();
    reopen();
    ASSERT_EQ(snippets->items().size(), 1u);
    EXPECT_EQ(snippets->items()[0].id, linkId);
    EXPECT_EQ(snippets->items()[0].text, "https://meet.example/xyz");
}

TEST_F(ListScreensTest, AnUnfinishedSnippetWaitsWhileAnotherSectionShows) {
    ASSERT_TRUE(snippets->addOrChange("my address", "1 Main Street"));
    state->setSection(Section::snippets);
    MainWindow window(*state, *parts, "1.2.3");
    window.show();
    QWidget* shown = static_cast<MainWindowView*>(window.widget())->screen(Section::snippets);
    ASSERT_TRUE(shown->isVisible());
    select(named<QListView>(shown, "Your snippets"), 0);
    named<QPushButton>(shown, "Edit")->click();
    auto* typed = named<QPlainTextEdit>(shown, "Type this");
    typed->setPlainText("1 Main Street\nSpringfield");

    state->setSection(Section::words);
    EXPECT_FALSE(shown->isVisible());
    window.widget()->close();
    window.show();
    state->setSection(Section::snippets);
    ASSERT_TRUE(shown->isVisible());
    EXPECT_EQ(named<QLineEdit>(shown, "When I say, e.g. my meeting link")->text(), "my address");
    EXPECT_EQ(typed->toPlainText(), "1 Main Street\nSpringfield");
    EXPECT_EQ(snippets->items()[0].text, "1 Main Street") << "nothing saved until Save";
    auto* save = named<QPushButton>(shown, "Save");
    ASSERT_NE(save, nullptr);
    save->click();
    ASSERT_EQ(snippets->items().size(), 1u);
    EXPECT_EQ(snippets->items()[0].text, "1 Main Street\nSpringfield");
}

TEST_F(ListScreensTest, EachGroupStoresItsOwnStyleAndShowsEveryStyleOnTheSample) {
    make<StyleScreen>(settings);
    EXPECT_TRUE(shows(screen.get(),
                      "Punctuation and capitals for each kind of app. Your words never change."));
    const QStringList groups{"Messages", "Work chat", "Email", "Everything else"};
    for (const QString& group : groups) {
        auto* box = find<QGroupBox>(group);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(named<QLabel>(box, "polished sample")->text(),
                  "Hey Sam, I can do Friday. Does three still work? See you then.");
        EXPECT_EQ(named<QLabel>(box, "relaxed sample")->text(),
                  "Hey Sam, I can do Friday. Does three still work? See you then");
        EXPECT_EQ(named<QLabel>(box, "lowercase sample")->text(),
                  "hey sam, i can do friday. does three still work? see you then");
        EXPECT_TRUE(named<QRadioButton>(box, "polished")->isChecked()) << group.toStdString();
    }
    EXPECT_FALSE(settings.hasChosenStyle()) << "showing the default stores nothing";

    named<QRadioButton>(find<QGroupBox>("Email"), "relaxed")->click();
    named<QRadioButton>(find<QGroupBox>("Messages"), "lowercase")->click();
    EXPECT_EQ(settings.get(SettingKeys::style(AppGroup::email)), WritingStyle::relaxed);
    EXPECT_EQ(settings.get(SettingKeys::style(AppGroup::messages)), WritingStyle::lowercase);
    EXPECT_FALSE(settings.file().contains("style-work"));
    EXPECT_FALSE(settings.file().contains("style-other"));
    EXPECT_TRUE(named<QRadioButton>(find<QGroupBox>("Work chat"), "polished")->isChecked());

    // A change made elsewhere shows too.
    settings.set(SettingKeys::style(AppGroup::work), WritingStyle::lowercase);
    EXPECT_TRUE(named<QRadioButton>(find<QGroupBox>("Work chat"), "lowercase")->isChecked());

    reopen();
    make<StyleScreen>(settings);
    EXPECT_TRUE(named<QRadioButton>(find<QGroupBox>("Email"), "relaxed")->isChecked());
    EXPECT_TRUE(named<QRadioButton>(find<QGroupBox>("Messages"), "lowercase")->isChecked());
    EXPECT_TRUE(named<QRadioButton>(find<QGroupBox>("Everything else"), "polished")->isChecked());
}

TEST_F(ListScreensTest, EveryWayOfChoosingAStyleStoresItAndEachGroupNamesItsApps) {
    make<StyleScreen>(settings);
    EXPECT_EQ(named<QLabel>(find<QGroupBox>("Messages"), "Messages apps")->text(),
              "For example Signal, Telegram, WhatsApp, Element");
    EXPECT_TRUE(named<QLabel>(find<QGroupBox>("Everything else"), "Everything else apps")
                    ->text()
                    .startsWith("Editors, documents, terminals: "));

    const auto act = [](QWidget* control, const QString& action) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(accessible, nullptr);
        ASSERT_NE(accessible->actionInterface(), nullptr);
        accessible->actionInterface()->doAction(action);
    };
    const auto clickOn = [](QWidget* widget) {
        const QPointF middle = QRectF(widget->rect()).center();
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, middle, widget->mapToGlobal(middle), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                              Qt::NoModifier);
            QApplication::sendEvent(widget, &event);
        }
    };
    struct Way {
        const char* name;
        const char* style;
        std::function<void(QGroupBox*)> choose;
    };
    const std::vector<Way> ways{
        {"a click", "relaxed",
         [](QGroupBox* box) { named<QRadioButton>(box, "relaxed")->click(); }},
        {"a screen reader's toggle", "lowercase",
         [&](QGroupBox* box) {
             act(named<QRadioButton>(box, "lowercase"), QAccessibleActionInterface::toggleAction());
         }},
        {"a click on the sample", "polished",
         [&](QGroupBox* box) { clickOn(named<QLabel>(box, "polished sample")); }},
    };
    for (const auto& way : ways) {
        QGroupBox* box = find<QGroupBox>("Email");
        way.choose(box);
        EXPECT_EQ(settings.get(SettingKeys::style(AppGroup::email)),
                  WritingStyles::fromRawValue(way.style))
            << way.name;
        EXPECT_TRUE(named<QRadioButton>(box, way.style)->isChecked()) << way.name;
    }
    EXPECT_FALSE(settings.file().contains("style-messages")) << "only the group chosen in";
}

TEST_F(ListScreensTest, EmptyScreensSayWhatToDoAndTypingIntoAnEmptyScratchpadMakesANote) {
    make<WordsScreen>(*words);
    EXPECT_TRUE(shows(screen.get(), WordsScreen::emptyText));
    words->save({"Lovelace"});
    EXPECT_FALSE(shows(screen.get(), WordsScreen::emptyText));

    make<ScratchpadScreen>(*notes, *clock, scheduler);
    auto* editor = find<QPlainTextEdit>("Note");
    EXPECT_EQ(editor->placeholderText(), "Start typing to make a note");
    editor->setFocus();
    editor->insertPlainText("Call the garage");
    ASSERT_EQ(notes->items().size(), 1u) << "the first key made a note";
    scheduler.advanceBy(ScratchpadScreen::savePause);
    EXPECT_EQ(notes->items()[0].text, "Call the garage");
    EXPECT_EQ(find<QListView>("Notes")->currentIndex().row(), 0);
    EXPECT_TRUE(find<QToolButton>("Delete")->isEnabled());
    EXPECT_EQ(editor->toPlainText(), "Call the garage") << "nothing typed is lost";
}

TEST_F(ListScreensTest, NotesAreSavedAfterAPauseAndAtOnceOnSwitchingOrHiding) {
    make<ScratchpadScreen>(*notes, *clock, scheduler);
    EXPECT_TRUE(shows(screen.get(), "A place to think out loud"));
    auto* newNote = find<QToolButton>("New note");
    auto* editor = find<QPlainTextEdit>("Note");
    auto* list = find<QListView>("Notes");
    EXPECT_TRUE(editor->isEnabled()) << "no note yet: typing starts one";
    EXPECT_FALSE(find<QToolButton>("Delete")->isEnabled());

    newNote->click();
    newNote->click();
    ASSERT_EQ(notes->items().size(), 1u) << "the empty note is reused";
    const std::string first = notes->items()[0].id;
    ASSERT_TRUE(editor->isEnabled());
    EXPECT_EQ(list->currentIndex().row(), 0);

    editor->insertPlainText("Groceries\nmilk");
    EXPECT_EQ(notes->items()[0].text, "") << "typing still going on";
    scheduler.advanceBy(ScratchpadScreen::savePause);
    EXPECT_EQ(notes->items()[0].text, "Groceries\nmilk");
    EXPECT_EQ(rows(list), QStringList({"Groceries"}));

    // Another note opens: the one left is saved without waiting.
    clock->advance(std::chrono::minutes(5));
    newNote->click();
    ASSERT_EQ(notes->items().size(), 2u);
    editor->insertPlainText("Call the bank");
    select(list, 1);
    EXPECT_EQ(editor->toPlainText(), "Groceries\nmilk");
    EXPECT_EQ(notes->items()[0].text, "Call the bank");
    EXPECT_EQ(rows(list), QStringList({"Call the bank", "Groceries"}));

    editor->moveCursor(QTextCursor::End);
    editor->insertPlainText(" and eggs");
    screen->hide();
    EXPECT_EQ(notes->items()[1].text, "Groceries\nmilk and eggs");
    EXPECT_EQ(notes->items()[1].date, clock->now());
    EXPECT_EQ(scheduler.pending(), 0u) << "nothing left to write";

    reopen();
    ASSERT_EQ(notes->items().size(), 2u);
    EXPECT_EQ(notes->items()[1].id, first);
    EXPECT_EQ(notes->items()[1].text, "Groceries\nmilk and eggs");
    make<ScratchpadScreen>(*notes, *clock, scheduler);
    EXPECT_EQ(find<QPlainTextEdit>("Note")->toPlainText(), "Call the bank") << "newest opens";
}

TEST_F(ListScreensTest, ANoteIsDeletedOnlyAfterTheUserConfirms) {
    const std::string older = *notes->addNote();
    notes->editNote(older, "Older");
    const std::string newer = *notes->addNote();
    notes->editNote(newer, "Newer");
    make<ScratchpadScreen>(*notes, *clock, scheduler);
    auto* editor = find<QPlainTextEdit>("Note");
    auto* confirm = find<QMessageBox>("Delete this note?");
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(editor->toPlainText(), "Newer");

    find<QToolButton>("Delete")->click();
    EXPECT_TRUE(confirm->isVisible());
    EXPECT_EQ(notes->items().size(), 2u) << "only asked so far";
    named<QPushButton>(confirm, "Cancel")->click();
    EXPECT_FALSE(confirm->isVisible());
    EXPECT_EQ(notes->items().size(), 2u);
    EXPECT_EQ(editor->toPlainText(), "Newer");

    find<QToolButton>("Delete")->click();
    ASSERT_TRUE(confirm->isVisible());
    named<QPushButton>(confirm, "Delete")->click();
    ASSERT_EQ(notes->items().size(), 1u);
    EXPECT_EQ(notes->items()[0].id, older);
    EXPECT_EQ(editor->toPlainText(), "Older") << "the next note opens";

    reopen();
    ASSERT_EQ(notes->items().size(), 1u);
    EXPECT_EQ(notes->items()[0].text, "Older");

    // The last note going leaves an empty scratchpad, where typing starts a new note.
    make<ScratchpadScreen>(*notes, *clock, scheduler);
    find<QToolButton>("Delete")->click();
    named<QPushButton>(find<QMessageBox>("Delete this note?"), "Delete")->click();
    EXPECT_TRUE(notes->items().empty());
    EXPECT_EQ(find<QPlainTextEdit>("Note")->toPlainText(), "");
    EXPECT_EQ(find<QPlainTextEdit>("Note")->placeholderText(), "Start typing to make a note");
    EXPECT_FALSE(find<QToolButton>("Delete")->isEnabled());
}

TEST_F(ListScreensTest, UnreadableFilesShowTheirProblemAndRefuseEveryEdit) {
    writeAll(paths.vocabulary(), "Kubernetes\n\xff\xfe\n");
    writeAll(paths.snippets(), "[{\"id\": ");
    writeAll(paths.notes(), "not json");
    open();

    make<WordsScreen>(*words);
    auto* problem = find<QLabel>("Problem");
    EXPECT_TRUE(problem->isVisibleTo(screen.get()));
    EXPECT_TRUE(problem->text().startsWith("Couldn't read your words: "))
        << problem->text().toStdString();
    auto* field = find<QLineEdit>("Add a name or term");
    EXPECT_FALSE(field->isEnabled());
    field->setText("Grafana");
    press(field, Qt::Key_Return);
    find<QPushButton>("Add")->click();
    EXPECT_TRUE(words->terms().empty());

    make<SnippetsScreen>(*snippets);
    problem = find<QLabel>("Problem");
    EXPECT_TRUE(problem->isVisibleTo(screen.get()));
    EXPECT_TRUE(problem->text().startsWith("Couldn't read these: "))
        << problem->text().toStdString();
    auto* phrase = find<QLineEdit>("When I say, e.g. my meeting link");
    EXPECT_FALSE(phrase->isEnabled());
    EXPECT_FALSE(find<QPlainTextEdit>("Type this")->isEnabled());
    phrase->setText("sig");
    find<QPlainTextEdit>("Type this")->setPlainText("Best, Ada");
    find<QPushButton>("Add snippet")->click();
    EXPECT_TRUE(snippets->items().empty());

    make<ScratchpadScreen>(*notes, *clock, scheduler);
    problem = find<QLabel>("Problem");
    EXPECT_TRUE(problem->isVisibleTo(screen.get()));
    EXPECT_TRUE(problem->text().startsWith("Couldn't read these: "));
    EXPECT_FALSE(find<QToolButton>("New note")->isEnabled());
    find<QToolButton>("New note")->click();
    screen->hide();
    EXPECT_TRUE(notes->items().empty());

    screen.reset();
    EXPECT_EQ(readAll(paths.vocabulary()), "Kubernetes\n\xff\xfe\n");
    EXPECT_EQ(readAll(paths.snippets()), "[{\"id\": ");
    EXPECT_EQ(readAll(paths.notes()), "not json");
}

TEST_F(ListScreensTest, AFailedSaveShowsItsProblemAndKeepsWhatWasTyped) {
    make<SnippetsScreen>(*snippets);
    auto* phrase = find<QLineEdit>("When I say, e.g. my meeting link");
    auto* typed = find<QPlainTextEdit>("Type this");
    auto* problem = find<QLabel>("Problem");
    phrase->setText("my address");
    typed->setPlainText("1 Main Street, Springfield");
    {
        FileSizeLimit full(16);
        find<QPushButton>("Add snippet")->click();
    }
    EXPECT_TRUE(problem->isVisibleTo(screen.get()));
    EXPECT_TRUE(problem->text().startsWith("Couldn't save these: "))
        << problem->text().toStdString();
    EXPECT_EQ(phrase->text(), "my address") << "the form is kept";
    EXPECT_EQ(typed->toPlainText(), "1 Main Street, Springfield");
    find<QPushButton>("Add snippet")->click();
    EXPECT_FALSE(problem->isVisibleTo(screen.get()));
    EXPECT_EQ(phrase->text(), "");
    EXPECT_EQ(snippets->items().size(), 1u) << "the same phrase, not a second snippet";

    make<WordsScreen>(*words);
    auto* field = find<QLineEdit>("Add a name or term");
    field->setText("Kubernetes");
    {
        FileSizeLimit full(4);
        press(field, Qt::Key_Return);
    }
    problem = find<QLabel>("Problem");
    EXPECT_TRUE(problem->text().startsWith("Couldn't save: ")) << problem->text().toStdString();
    EXPECT_EQ(field->text(), "Kubernetes");
    EXPECT_TRUE(words->terms().empty());
    press(field, Qt::Key_Return);
    EXPECT_FALSE(problem->isVisibleTo(screen.get()));
    EXPECT_EQ(field->text(), "");
}

TEST_F(ListScreensTest, TabVisitsEveryControlInReadingOrderAndEachHasAName) {
    ASSERT_TRUE(snippets->addOrChange("sig", "Best, Ada"));
    words->add("Kubernetes");
    notes->editNote(*notes->addNote(), "Plan");

    make<WordsScreen>(*words);
    find<QLineEdit>("Add a name or term")->setText("Grafana");
    select(find<QListView>("Your words"), 0);
    EXPECT_EQ(tabStops(screen.get()),
              QStringList({"Add a name or term", "Add", "Your words", "Remove"}));

    make<SnippetsScreen>(*snippets);
    select(find<QListView>("Your snippets"), 0);
    find<QPushButton>("Edit")->click();
    EXPECT_EQ(tabStops(screen.get()),
              QStringList({"When I say, e.g. my meeting link", "Type this", "Cancel", "Save",
                           "Your snippets", "Edit", "Remove"}));

    make<ScratchpadScreen>(*notes, *clock, scheduler);
    EXPECT_EQ(tabStops(screen.get()), QStringList({"New note", "Delete", "Notes", "Note"}));

    make<StyleScreen>(settings);
    const QStringList stops = tabStops(screen.get());
    EXPECT_EQ(stops.size(), 12) << "three styles in each of four groups";
    EXPECT_FALSE(stops.contains(QString())) << "every stop has a name";
}

} // namespace
