#include "WindowFixture.h"
#include "ui/window/Icons.h"
#include "ui/window/MainWindow.h"
#include "ui/window/MainWindowView.h"
#include "ui/window/Profile.h"
#include "ui/window/RankToast.h"
#include "ui/window/SettingsSheet.h"

#include <QListWidget>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>

namespace {

class MainWindowTest : public WindowFixture {
  protected:
    MainWindowView& view() {
        if (!window) {
            window = std::make_unique<MainWindow>(*state, *parts, "1.2.3");
        }
        window->show();
        return *static_cast<MainWindowView*>(window->widget());
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, TheSidebarListsTheSevenSectionsInOrderAndFollowsTheState) {
    MainWindowView& shown = view();
    EXPECT_EQ(shown.size(), fitted(QSize(1040, 740)));
    auto* list = named<QListWidget>(&shown, "Sections");
    ASSERT_NE(list, nullptr);
    QStringList labels;
    for (int row = 0; row < list->count(); ++row) {
        labels << list->item(row)->text();
    }
    EXPECT_EQ(labels, QStringList({"Home", "History", "Insights", "Words", "Snippets", "Style",
                                   "Scratchpad"}));

    list->setCurrentRow(4);
    EXPECT_EQ(state->section(), Section::snippets);
    auto* screens = shown.findChild<QStackedWidget*>();
    EXPECT_EQ(screens->currentWidget()->accessibleName(), "Snippets");

    state->setSection(Section::insights);
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(screens->currentWidget(), shown.screen(Section::insights));
}

TEST_F(MainWindowTest, ClosingHidesTheWindowAndReopeningFindsTheSectionTabAndFrame) {
    MainWindowView& shown = view();
    state->setSection(Section::words);
    named<QToolButton>(&shown, "Settings")->click();
    EXPECT_EQ(state->settingsTab(), SettingsTab::general);
    EXPECT_TRUE(shown.sheet().isVisible());
    shown.sheet().findChild<QTabWidget*>()->setCurrentIndex(3);
    EXPECT_EQ(state->settingsTab(), SettingsTab::privacy);
    shown.resize(900, 650);

    shown.close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(settings.file().contains("main-window"));

    // A later window in the same run, and one in the next run, come back as they were left.
    window.reset();
    MainWindowView& again = view();
    EXPECT_EQ(again.size(), QSize(900, 650));
    EXPECT_EQ(state->section(), Section::words);
    EXPECT_TRUE(again.sheet().isVisible());
    EXPECT_EQ(again.sheet().findChild<QTabWidget*>()->currentIndex(), 3);

    named<QToolButton>(&again.sheet(), "Close settings")->click();
    EXPECT_EQ(state->settingsTab(), std::nullopt);
    EXPECT_FALSE(again.sheet().isVisible());
}

TEST_F(MainWindowTest, TheSheetNamesEveryTabAndTheVersion) {
    MainWindowView& shown = view();
    state->setSettingsTab(SettingsTab::account);
    auto* tabs = shown.sheet().findChild<QTabWidget*>();
    QStringList labels;
    for (int i = 0; i < tabs->count(); ++i) {
        labels << tabs->tabText(i);
    }
    EXPECT_EQ(labels, QStringList({"General", "Your voice", "Connections", "Privacy", "Account"}));
    EXPECT_EQ(tabs->currentIndex(), 4);
    EXPECT_TRUE(shows(&shown.sheet(), "Dictation 1.2.3"));
}

TEST_F(MainWindowTest, YourVoiceListsTheModelsWithSizeTimeAndStateAndActsOnThem) {
    offerModels();
    MainWindowView& shown = view();
    state->setSettingsTab(SettingsTab::yourVoice);
    QWidget& sheet = shown.sheet();
    const struct {
        const char* name;
        const char* title;
        bool checked;
    } rows[] = {
        {"Large turbo", "Large turbo · 574 MB · 6.4 s per sentence here", false},
        {"Small English", "Small English · 264 MB · 1.3 s per sentence here", true},
        {"Small", "Small · 264 MB", false},
        {"Base English", "Base English · 82 MB · 0.5 s per sentence here", false},
    };
    for (const auto& row : rows) {
        auto* pick = named<QAbstractButton>(&sheet, row.name);
        ASSERT_NE(pick, nullptr) << row.name;
        EXPECT_EQ(pick->text(), row.title);
        EXPECT_EQ(pick->isChecked(), row.checked) << row.name;
    }
    EXPECT_TRUE(shows(&sheet, "In use"));
    EXPECT_TRUE(shows(&sheet, "Most accurate, in many languages. Slow without a graphics card."));
    // Only a model that is here and not in use can go.
    EXPECT_EQ(named<QAbstractButton>(&sheet, "Remove Small English"), nullptr);
    EXPECT_EQ(named<QAbstractButton>(&sheet, "Remove Large turbo"), nullptr);
    named<QAbstractButton>(&sheet, "Remove Base English")->click();
    EXPECT_FALSE(std::filesystem::exists(paths.models() / "ggml-base.en-q8_0.bin"));
    QApplication::processEvents();
    EXPECT_EQ(named<QAbstractButton>(&sheet, "Remove Base English"), nullptr);

    // Choosing another fetches it; the model in use stays until it is here.
    named<QAbstractButton>(&sheet, "Large turbo")->click();
    QApplication::processEvents();
    EXPECT_TRUE(shows(&sheet, "Downloading, 0%"));
    EXPECT_TRUE(named<QAbstractButton>(&sheet, "Small English")->isChecked());
    EXPECT_TRUE(named<QAbstractButton>(&sheet, "Measure again")->isEnabled());
}

TEST_F(MainWindowTest, TheDarkToggleSetsTheLookAndStartingShowsUntilReady) {
    MainWindowView& shown = view();
    auto* toggle = named<QToolButton>(&shown, "Use dark mode");
    ASSERT_NE(toggle, nullptr);
    EXPECT_FALSE(toggle->isChecked());
    toggle->click();
    EXPECT_EQ(settings.get(SettingKeys::look), Look::dark);
    EXPECT_TRUE(window->appearance().isDark());
    EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 128);

    state->setLook(Look::light);
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_GT(QApplication::palette().color(QPalette::Window).lightness(), 128);

    EXPECT_TRUE(shows(&shown, "Starting…"));
    state->setReady(true);
    EXPECT_FALSE(shows(&shown, "Starting…"));
}

TEST(CaptureTarget, OnlyTheYourVoiceTabOfAVisibleWindowInTheActiveAppCaptures) {
    EXPECT_TRUE(MainWindow::captureTarget(true, true, SettingsTab::yourVoice));
    EXPECT_FALSE(MainWindow::captureTarget(false, true, SettingsTab::yourVoice));
    EXPECT_FALSE(MainWindow::captureTarget(true, false, SettingsTab::yourVoice));
    EXPECT_FALSE(MainWindow::captureTarget(true, true, SettingsTab::general));
    EXPECT_FALSE(MainWindow::captureTarget(true, true, std::nullopt));
}

TEST_F(MainWindowTest, TheRankToastShowsForFourSecondsAndWaitsForAHiddenWindow) {
    MainWindowView& shown = view();
    auto* toast = shown.findChild<RankToast*>();
    history->setNewRank(Rank::songbird);
    EXPECT_TRUE(toast->isVisible());
    EXPECT_EQ(toast->text(), "You're a Songbird now");
    scheduler.advanceBy(3.9);
    EXPECT_TRUE(toast->isVisible());
    scheduler.advanceBy(0.1);
    EXPECT_FALSE(toast->isVisible());
    EXPECT_EQ(history->newRank(), std::nullopt);

    shown.close();
    history->setNewRank(Rank::lark);
    scheduler.advanceBy(60);
    EXPECT_EQ(history->newRank(), Rank::lark) << "kept for the window";
    window->show();
    EXPECT_TRUE(toast->isVisible());
    EXPECT_EQ(toast->text(), "You're a Lark now");
    scheduler.advanceBy(4);
    EXPECT_EQ(history->newRank(), std::nullopt);
}

TEST_F(MainWindowTest, ProfileNamesGiveFirstNamesAndInitialsAndEditsAreStored) {
    EXPECT_EQ(Profile::firstName("ada lovelace byron"), "ada");
    EXPECT_EQ(Profile::initials("ada lovelace byron"), "AL");
    EXPECT_EQ(Profile::initials("Ada"), "A");
    EXPECT_EQ(Profile::firstName("   "), "");
    EXPECT_EQ(Profile::initials("   "), "");
    EXPECT_EQ(Profile::initials("  émile  zola "), "ÉZ");
    EXPECT_EQ(Profile::initials("👩‍💻 coder"), "👩‍💻C") << "a whole character";

    Profile& profile = state->profile();
    EXPECT_EQ(profile.name().toStdString(), SettingsFile(paths.settings()).profileName())
        << "the account's name without a stored one";
    MainWindowView& shown = view();
    profile.setName("grace hopper");
    EXPECT_EQ(settings.get(SettingKeys::profileName), "grace hopper");
    EXPECT_EQ(named<QLabel>(&shown, "Your initials")->text(), "GH");
    window.reset(); // it holds the state that open() replaces
    open();
    EXPECT_EQ(state->profile().firstName(), "grace");
}

TEST_F(MainWindowTest, EverySymbolHasAnIconInABareSession) {
    QIcon::setThemeName("no-such-theme");
    QIcon::setThemeSearchPaths({});
    for (const char* name : {"gearshape", "sun.max", "moon", "doc.on.doc", "pencil", "trash",
                             "speaker.slash", "checkmark.seal.fill", "lock", "square.and.pencil",
                             "xmark", "mic", "mic.fill", "lock.fill", "warning"}) {
        const QIcon icon = Icons::symbol(name);
        EXPECT_FALSE(icon.pixmap(24, 24).isNull()) << name;
    }
    EXPECT_EQ(Icons::themeName("trash"), "edit-delete");
}

} // namespace
