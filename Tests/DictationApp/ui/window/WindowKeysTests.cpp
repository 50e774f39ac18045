// The main window's own keys, offscreen: the window keys are ours, the editing keys stay the
// text fields'.
#include "WindowFixture.h"
#include "ui/window/MainWindow.h"
#include "ui/window/MainWindowView.h"
#include "ui/window/SettingsSheet.h"

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

namespace {

class WindowKeysTest : public WindowFixture {
  protected:
    MainWindowView& view() {
        window.show();
        auto* shown = static_cast<MainWindowView*>(window.widget());
        QApplication::setActiveWindow(shown);
        return *shown;
    }

    MainWindow window{*state, *parts, "1.2.3"};
};

TEST_F(WindowKeysTest, CtrlWHidesTheWindowCtrlMMinimisesItAndOpeningBringsItBack) {
    MainWindowView& shown = view();
    QTest::keyClick(&shown, Qt::Key_H, Qt::ControlModifier); // another platform's habit
    EXPECT_TRUE(window.isVisible());
    QTest::keyClick(&shown, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(settings.file().contains("main-window")) << "hidden as by closing";

    view();
    QTest::keyClick(&shown, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(shown.isMinimized());
    window.show(); // "Open Parlwick" from the tray or a second launch
    EXPECT_FALSE(shown.isMinimized());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(WindowKeysTest, TabStaysInsideTheOpenSettingsAndComesBackAfter) {
    MainWindowView& shown = view();
    named<QListWidget>(&shown, "Sections")->setFocus();
    state->setSettingsTab(SettingsTab::general);
    for (int press = 0; press < 80; ++press) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr) << "after " << press << " presses";
        ASSERT_TRUE(shown.sheet().isAncestorOf(focused))
            << "after " << press << " presses: "
            << (focused->accessibleName().isEmpty() ? focused->metaObject()->className()
                                                    : focused->accessibleName().toStdString());
        QTest::keyClick(focused, press % 2 ? Qt::Key_Tab : Qt::Key_Backtab);
        if (press % 5 == 0) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
    }
    state->setSettingsTab(std::nullopt);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_FALSE(shown.sheet().isAncestorOf(QApplication::focusWidget()));
    EXPECT_TRUE(QApplication::focusWidget()->isVisible());
}

TEST_F(WindowKeysTest, CtrlFFindsCtrlCommaOpensSettingsAndReturnPressesTheFocusedButton) {
    MainWindowView& shown = view();
    const std::vector<std::pair<Section, QString>> finds{
        {Section::history, "Search"},
        {Section::words, "Add a name or term"},
        {Section::snippets, "When I say, e.g. my meeting link"}};
    for (const auto& [section, field] : finds) {
        state->setSection(section);
        named<QListWidget>(&shown, "Sections")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->accessibleName(), field);
    }

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(state->settingsTab(), SettingsTab::general);
    auto* close = named<QToolButton>(&shown, "Close settings");
    close->setFocus();
    QTest::keyClick(close, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !state->settingsTab().has_value(); }, 2000))
        << "Return pressed the focused button";

    // In a text field Return stays the field's: Words adds the word.
    state->setSection(Section::words);
    auto* field = named<QLineEdit>(&shown, "Add a name or term");
    field->setFocus();
    field->setText("Lovelace");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(words->terms(), std::vector<std::string>{"Lovelace"});
}

TEST_F(WindowKeysTest, TheMainMenuOffersPreferencesShortcutsAboutAndQuit) {
    MainWindowView& shown = view();
    auto* button = named<QToolButton>(&shown, "Main menu");
    ASSERT_NE(button, nullptr);
    ASSERT_NE(button->menu(), nullptr);
    QStringList items;
    for (QAction* action : button->menu()->actions()) {
        items << (action->isSeparator() ? "—" : action->text());
    }
    EXPECT_EQ(items, QStringList({"Preferences\tCtrl+,", "Keyboard Shortcuts", "About Dictation",
                                  "—", "Quit\tCtrl+Q"}));
    int quits = 0;
    parts->quit = [&] { ++quits; };
    button->menu()->actions()[0]->trigger();
    EXPECT_EQ(state->settingsTab(), SettingsTab::general);
    button->menu()->actions().back()->trigger();
    EXPECT_EQ(quits, 1);
    for (const char* key : {"Ctrl+,", "Ctrl+F", "Ctrl+W", "Ctrl+M", "Ctrl+Q"}) {
        EXPECT_TRUE(MainWindowView::shortcutsText().contains(key)) << key;
    }
    EXPECT_FALSE(MainWindowView::shortcutsText().contains("Ctrl+H"));
}

TEST_F(WindowKeysTest, CtrlQCallsOnQuitAndNothingElseDoes) {
    int quits = 0;
    MainWindowView& shown = view();
    QTest::keyClick(&shown, Qt::Key_Q, Qt::ControlModifier); // inert until start-up wires it
    parts->quit = [&] { ++quits; };
    QTest::keyClick(&shown, Qt::Key_Q);
    QTest::keyClick(&shown, Qt::Key_Q, Qt::AltModifier);
    EXPECT_EQ(quits, 0);
    QTest::keyClick(&shown, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(WindowKeysTest, TheEditingKeysStayWithTheTextField) {
    state->setSection(Section::scratchpad);
    MainWindowView& shown = view();
    named<QToolButton>(shown.screen(Section::scratchpad), "New note")->click();
    auto* editor = named<QPlainTextEdit>(shown.screen(Section::scratchpad), "Note");
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(editor->isEnabled());
    editor->setFocus();
    QTest::keyClicks(editor, "draft");
    ASSERT_EQ(editor->toPlainText(), "draft");
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(editor->textCursor().selectedText(), "draft");
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(editor->toPlainText(), "");
    EXPECT_EQ(QApplication::clipboard()->text(), "draft");
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(editor->toPlainText(), "draft");
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(editor->toPlainText(), "");
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(editor->toPlainText(), "draftdraft");
    EXPECT_TRUE(window.isVisible());
}

TEST_F(WindowKeysTest, TheNoTrayLineShowsOnlyWithoutATray) {
    MainWindowView& shown = view();
    const QString line = MainWindowView::noTrayText(QString::fromStdString(paths.appName()));
    EXPECT_EQ(line, "Dictation keeps running when you close this window. Open Dictation again to "
                    "bring it back.");
    EXPECT_FALSE(shows(&shown, line));
    state->setHasTray(false);
    EXPECT_TRUE(shows(&shown, line));
    state->setHasTray(true);
    EXPECT_FALSE(shows(&shown, line));
}

} // namespace
