#include "WindowFixture.h"
#include "connector/Connections.h"
#include "ui/window/AccountTab.h"
#include "ui/window/DayChart.h"
#include "ui/window/HomeScreen.h"
#include "ui/window/InsightsScreen.h"
#include "ui/window/ProgressCard.h"
#include "ui/window/WeekStrip.h"

#include <QDate>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QTime>
#include <QTreeWidget>
#include <unicode/locid.h>

// Readable failures: gtest looks for this next to QString.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// Home, Insights and the Account tab over real stores, in English as written in the US.
class ProgressScreens : public WindowFixture {
  protected:
    static void SetUpTestSuite() {
        WindowFixture::SetUpTestSuite();
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    static Timestamp at(int day, int hour, int minute = 0) {
        return berlin.date(2026, 12, day, hour, minute).value();
    }

    // All-time totals as an earlier run left them, read when the stores open.
    void leaveTotals(std::int64_t words, double seconds, const std::string& days) {
        writeAll(paths.totals(), "{\"words\":" + std::to_string(words) + ",\"seconds\":" +
                                     std::to_string(seconds) + ",\"days\":[" + days + "]}");
        open();
    }

    // `count` words of `word`.
    static std::string wordsOf(int count, const std::string& word = "w") {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += (i ? " " : "") + word;
        }
        return text;
    }

    static QString label(QWidget* root, const QString& name) {
        auto* found = named<QLabel>(root, name);
        return found ? found->text() : QStringLiteral("<no %1>").arg(name);
    }

    static QStringList column(QTreeWidget* list, int column) {
        QStringList texts;
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            texts << list->topLevelItem(row)->text(column);
        }
        return texts;
    }

    // The mark of a step or a rank: the row named `row` holds it.
    static QString mark(QWidget* root, const QString& row) {
        QWidget* found = named(root, row);
        if (!found) {
            return QStringLiteral("<no %1>").arg(row);
        }
        for (const char* name : {"Done", "To do", "Reached", "Locked"}) {
            if (named<QLabel>(found, name)) {
                return name;
            }
        }
        return QStringLiteral("<unmarked>");
    }

    static void type(QWidget* field, const QString& text) {
        for (const QChar character : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
            QApplication::sendEvent(field, &press);
        }
    }
};

TEST_F(ProgressScreens, TheGreetingFollowsTheLocalHourAndTheFirstName) {
    HomeScreen home(*state, *parts);
    home.show();
    struct Row {
        int hour, minute;
        QString name, greeting;
    };
    for (const Row& row : {
             Row{4, 59, "", "Good evening"},
             Row{5, 0, "", "Good morning"},
             Row{11, 59, "Ada Lovelace", "Good morning, Ada"},
             Row{12, 0, "  ada  ", "Good afternoon, ada"},
             Row{16, 59, "", "Good afternoon"},
             Row{17, 0, "Grace Hopper", "Good evening, Grace"},
             Row{23, 30, "   ", "Good evening"},
         }) {
        clock->set(at(9, row.hour, row.minute));
        state->profile().setName(row.name);
        home.hide();
        home.show();
        EXPECT_EQ(label(&home, "Greeting"), row.greeting) << row.hour << ":" << row.minute;
    }

    // A dictation while the window stays up shows the hour it came at.
    state->profile().setName("");
    clock->set(at(9, 12, 0));
    dictate("hello there", clock->now());
    EXPECT_EQ(label(&home, "Greeting"), "Good afternoon");
}

TEST_F(ProgressScreens, TheProgressCardShowsTotalsStreakWeekAndTheWayToTheNextRank) {
    leaveTotals(2000, 600, R"("2026-12-08","2026-12-09","2026-12-01")");
    HomeScreen home(*state, *parts);
    home.show();
    EXPECT_EQ(label(&home, "total words"), "2,000");
    EXPECT_EQ(label(&home, "words a minute"), "200");
    EXPECT_EQ(label(&home, "day streak"), "2");
    EXPECT_EQ(label(&home, "Rank"), "Fledgling");
    EXPECT_EQ(label(&home, "To the next rank"), "500 words to Songbird");
    auto* bar = named<QProgressBar>(&home, "Rank progress");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), 750);
    EXPECT_EQ(bar->maximum(), ProgressCard::barSteps);
    EXPECT_DOUBLE_EQ(ProgressCard::fraction(2000), 0.75);

    // 9 December 2026 is a Wednesday; a US week starts on Sunday the 6th.
    auto* week = home.findChild<WeekStrip*>();
    ASSERT_NE(week, nullptr);
    ASSERT_EQ(week->days().size(), 7u);
    std::vector<int> weekdays;
    std::vector<bool> talked;
    for (const WeekStrip::Day& day : week->days()) {
        weekdays.push_back(day.weekday);
        talked.push_back(day.talked);
    }
    EXPECT_EQ(weekdays, (std::vector<int>{7, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(talked, (std::vector<bool>{false, false, true, true, false, false, false}));
    EXPECT_TRUE(week->days()[3].isToday);
    EXPECT_EQ(week->accessibleDescription(), "Talked on Tuesday, Wednesday");

    // A new dictation counts at once; a day later the streak still holds until that day ends.
    dictate("one two three", clock->now());
    EXPECT_EQ(label(&home, "total words"), "2,003");
    EXPECT_EQ(label(&home, "To the next rank"), "497 words to Songbird");
    clock->set(at(10, 9));
    home.hide();
    home.show();
    EXPECT_EQ(label(&home, "day streak"), "2");
    clock->set(at(11, 9));
    home.hide();
    home.show();
    EXPECT_EQ(label(&home, "day streak"), "0");
}

TEST_F(ProgressScreens, AtTheTopRankTheBarIsFullAndSaysSo) {
    leaveTotals(80000, 0, "");
    HomeScreen home(*state, *parts);
    EXPECT_EQ(label(&home, "total words"), "80,000");
    EXPECT_EQ(label(&home, "words a minute"), "0");
    EXPECT_EQ(label(&home, "day streak"), "0");
    EXPECT_EQ(label(&home, "Rank"), "Lyrebird");
    EXPECT_EQ(label(&home, "To the next rank"), "The top rank");
    EXPECT_EQ(named<QProgressBar>(&home, "Rank progress")->value(), ProgressCard::barSteps);
    EXPECT_EQ(ProgressCard::caption(75000), "The top rank");
    EXPECT_EQ(ProgressCard::caption(0), "500 words to Fledgling");
    EXPECT_EQ(ProgressCard::caption(24999), "1 words to Nightingale");
}

TEST_F(ProgressScreens, TheStepsComeInOrderAndAreDoneAsTheStoresAndSettingsSay) {
    HomeScreen home(*state, *parts);
    home.show();
    QWidget* steps = named(&home, "Getting started");
    ASSERT_NE(steps, nullptr);
    QStringList buttons;
    for (auto* button : steps->findChildren<QPushButton*>()) {
        buttons << button->text();
    }
    EXPECT_EQ(buttons, QStringList({"Try it here", "Choose", "Add one", "Make one", "Connect",
                                    "Hide these steps"}));
    const QStringList titles{"Say something", "Choose your style", "Teach it a name",
                             "Make a snippet", "Connect an AI app"};
    for (const QString& title : titles) {
        EXPECT_EQ(mark(&home, title), "To do") << title.toStdString();
    }
    EXPECT_TRUE(shows(&home, "Click in any text box, hold right Alt and talk."));
    EXPECT_TRUE(shows(&home, "Casual in messages, polished in email."));
    EXPECT_TRUE(shows(&home, "Add the names and terms it should spell correctly."));
    EXPECT_TRUE(shows(&home, "Say a short phrase, get your link or sign-off."));
    EXPECT_TRUE(shows(&home, "Ask Claude or Cursor about what you've dictated."));

    state->setKey(HotKey::rightControl);
    EXPECT_TRUE(shows(&home, "Click in any text box, hold right Ctrl and talk."));

    dictate("hello", clock->now());
    EXPECT_EQ(mark(&home, "Say something"), "Done");
    settings.set(SettingKeys::style(AppGroup::messages), WritingStyle::relaxed);
    EXPECT_EQ(mark(&home, "Choose your style"), "Done");
    words->add("Parlwick");
    EXPECT_EQ(mark(&home, "Teach it a name"), "Done");
    ASSERT_TRUE(snippets->addOrChange("my link", "https://example.org/meet"));
    EXPECT_EQ(mark(&home, "Make a snippet"), "Done");

    // Connecting is done in the settings sheet; Home looks again once the sheet closes.
    state->setSettingsTab(SettingsTab::connections);
    writeAll(ConnectedApps::config(ConnectedApp::cursor, paths), ConnectedApps::copyable(paths));
    ASSERT_TRUE(ConnectedApps::isConnected(ConnectedApp::cursor, paths));
    state->setSettingsTab(std::nullopt);
    EXPECT_EQ(mark(&home, "Connect an AI app"), "Done");

    // A fresh screen over the same files agrees.
    HomeScreen again(*state, *parts);
    for (const QString& title : titles) {
        EXPECT_EQ(mark(&again, title), "Done") << title.toStdString();
    }
}

TEST_F(ProgressScreens, StepButtonsOpenTheirPlaceAndHidingTheStepsIsForGood) {
    HomeScreen home(*state, *parts);
    home.show();
    named<QPushButton>(&home, "Choose")->click();
    EXPECT_EQ(state->section(), Section::style);
    named<QPushButton>(&home, "Add one")->click();
    EXPECT_EQ(state->section(), Section::words);
    named<QPushButton>(&home, "Make one")->click();
    EXPECT_EQ(state->section(), Section::snippets);
    named<QPushButton>(&home, "Connect")->click();
    EXPECT_EQ(state->settingsTab(), SettingsTab::connections);

    auto* field = named<QPlainTextEdit>(&home, "Try it here");
    ASSERT_NE(field, nullptr);
    EXPECT_FALSE(field->isVisible());
    named<QPushButton>(&home, "Try it here")->click();
    EXPECT_TRUE(field->isVisible());
    EXPECT_EQ(home.window()->focusWidget(), field);

    named<QPushButton>(&home, "Hide these steps")->click();
    EXPECT_TRUE(settings.get(SettingKeys::hidesSteps));
    EXPECT_FALSE(named(&home, "Getting started")->isVisible());
    open();
    HomeScreen later(*state, *parts);
    later.show();
    EXPECT_FALSE(named(&later, "Getting started")->isVisible());
    EXPECT_FALSE(shows(&later, "Say something"));
}

TEST_F(ProgressScreens, RecentShowsTheNewestFewOrSaysWhereTheyWillBe) {
    HomeScreen home(*state, *parts);
    home.show();
    auto* recent = named<QTreeWidget>(&home, "Recent");
    ASSERT_NE(recent, nullptr);
    EXPECT_FALSE(recent->isVisible());
    EXPECT_TRUE(shows(&home, "What you dictate shows up here."));
    named<QPushButton>(&home, "See all")->click();
    EXPECT_EQ(state->section(), Section::history);

    for (int minute = 0; minute < 5; ++minute) {
        dictate("note number " + std::to_string(minute), at(9, 8, minute), "Editor");
    }
    history->add(unheardRecord(at(9, 9, 0), Outcome::silent, "Chat"));
    history->add(unheardRecord(at(9, 9, 5), Outcome::failed, "Mail"));
    EXPECT_TRUE(recent->isVisible());
    EXPECT_FALSE(shows(&home, "What you dictate shows up here."));
    EXPECT_EQ(column(recent, 0), QStringList({"Couldn't transcribe that", "Nothing typed",
                                              "note number 4", "note number 3", "note number 2"}));
    EXPECT_EQ(column(recent, 1), QStringList({"Mail", "Chat", "Editor", "Editor", "Editor"}));
    // Berlin's wall clock, not the machine's.
    EXPECT_EQ(recent->topLevelItem(0)->text(2),
              QLocale().toString(QTime(9, 5), QLocale::ShortFormat));
    history->correct(history->entries()[2], "a better note");
    EXPECT_EQ(recent->topLevelItem(2)->text(0), "a better note");

    // The next day, yesterday's carry their date.
    clock->set(at(10, 8));
    dictate("this morning", at(10, 7, 30));
    EXPECT_EQ(recent->topLevelItem(0)->text(2),
              QLocale().toString(QTime(7, 30), QLocale::ShortFormat));
    EXPECT_EQ(recent->topLevelItem(1)->text(2),
              QLocale().toString(QDate(2026, 12, 9), QLocale::ShortFormat) + " " +
                  QLocale().toString(QTime(9, 5), QLocale::ShortFormat));
}

TEST_F(ProgressScreens, AStoreProblemShowsOnEveryScreenThatReadsIt) {
    std::filesystem::create_directories(paths.history()); // a folder where the file belongs
    open();
    ASSERT_TRUE(history->problem().has_value());
    HomeScreen home(*state, *parts);
    InsightsScreen insights(*history, *clock);
    AccountTab account(*state, *parts);
    for (QWidget* screen : std::initializer_list<QWidget*>{&home, &insights, &account}) {
        screen->show();
        auto* line = named<QLabel>(screen, "Problem");
        ASSERT_NE(line, nullptr);
        EXPECT_TRUE(line->isVisible());
        EXPECT_EQ(line->text().toStdString(), *history->problem());
    }
}

TEST_F(ProgressScreens, InsightsSaysNothingYetUntilSomethingWasTyped) {
    InsightsScreen insights(*history, *clock);
    insights.show();
    EXPECT_TRUE(shows(&insights, "From the history kept on this computer."));
    EXPECT_TRUE(shows(&insights, "Nothing yet."));
    EXPECT_FALSE(named<QLabel>(&insights, "usual wait")->isVisible());

    history->add(unheardRecord(clock->now(), Outcome::silent));
    EXPECT_TRUE(shows(&insights, "Nothing yet.")) << "only typed dictations count";

    dictate("first words", clock->now());
    EXPECT_FALSE(shows(&insights, "Nothing yet."));
    EXPECT_TRUE(named<QLabel>(&insights, "usual wait")->isVisible());
}

TEST_F(ProgressScreens, InsightsFiguresComeFromTheKeptHistory) {
    history->add(typedRecord(at(9, 9), wordsOf(300, "mail"), "Mail", 150, 12000));
    history->add(typedRecord(at(8, 15), wordsOf(100, "code"), "Editor", 150, 8000));
    history->add(unheardRecord(at(9, 9, 30), Outcome::failed, "Chat"));
    // The correction keeps the count: 100 words still, now one correction.
    history->correct(history->entries()[1], wordsOf(99, "code") + " fixed");

    InsightsScreen insights(*history, *clock);
    insights.show();
    EXPECT_EQ(label(&insights, "words in the last 14 days"), "400");
    auto* chart = insights.findChild<DayChart*>();
    ASSERT_NE(chart, nullptr);
    ASSERT_EQ(chart->words().size(), 14u);
    EXPECT_EQ(chart->words()[13], 300);
    EXPECT_EQ(chart->words()[12], 100);
    EXPECT_EQ(chart->words()[0], 0);
    // 400 words at 40 a minute is 10 minutes; 300 s spoken and 20 s waited leave 4.67.
    EXPECT_EQ(label(&insights, "saved over typing at 40 wpm"), "5 min");
    // The upper of the two middle waits.
    EXPECT_EQ(label(&insights, "usual wait"), "12.0 s");
    EXPECT_EQ(label(&insights, "corrections"), "1");
    auto* apps = named<QTreeWidget>(&insights, "Where you talk");
    ASSERT_NE(apps, nullptr);
    EXPECT_EQ(column(apps, 0), QStringList({"Mail", "Editor"}));
    EXPECT_EQ(column(apps, 1), QStringList({"300 words", "100 words"}));

    // Two weeks later the days are empty but the apps and time saved are still there.
    clock->set(at(23, 10));
    insights.hide();
    insights.show();
    EXPECT_EQ(label(&insights, "words in the last 14 days"), "0");
    EXPECT_EQ(label(&insights, "saved over typing at 40 wpm"), "5 min");

    history->deleteEntry(history->entries()[2]); // Mail's, the first one added
    EXPECT_EQ(column(apps, 0), QStringList({"Editor"}));
    EXPECT_EQ(label(&insights, "usual wait"), "8.0 s");
}

TEST_F(ProgressScreens, TheLadderMarksTheRanksReachedWithTheirThresholds) {
    const QStringList ranks{"Hatchling", "Fledgling",   "Songbird",
                            "Lark",      "Nightingale", "Lyrebird"};
    const QStringList thresholds{"Start", "500", "2.5K", "10K", "25K", "75K"};
    {
        InsightsScreen insights(*history, *clock);
        for (qsizetype i = 0; i < ranks.size(); ++i) {
            QWidget* row = named(&insights, ranks[i]);
            ASSERT_NE(row, nullptr) << ranks[i].toStdString();
            EXPECT_TRUE(shows(row, thresholds[i])) << ranks[i].toStdString();
            EXPECT_EQ(mark(&insights, ranks[i]), i == 0 ? "Reached" : "Locked");
        }
    }
    leaveTotals(25000, 0, "");
    InsightsScreen insights(*history, *clock);
    for (qsizetype i = 0; i < ranks.size(); ++i) {
        EXPECT_EQ(mark(&insights, ranks[i]), i < 5 ? "Reached" : "Locked") << i;
    }
    dictate(wordsOf(49999), clock->now());
    EXPECT_EQ(mark(&insights, "Lyrebird"), "Locked");
    dictate("one", clock->now());
    EXPECT_EQ(mark(&insights, "Lyrebird"), "Reached");
}

TEST_F(ProgressScreens, AccountShowsTheProfileRankPaceAndWhereTheUserTalks) {
    AccountTab account(*state, *parts);
    account.show();
    EXPECT_EQ(label(&account, "Speaking pace"), "Not enough yet");
    EXPECT_EQ(label(&account, "Rank"), "Hatchling");
    EXPECT_EQ(label(&account, "Corrections you've made"), "0");
    EXPECT_TRUE(shows(&account, "Kept on this computer"));
    EXPECT_TRUE(shows(&account, "There is no online account to sign in to."));
    // "Show files" hands the support folder to the desktop's file handler, replaced here by a
    // text browser that shows what it is handed.
    auto* showFiles = named<QPushButton>(&account, "Show files");
    ASSERT_NE(showFiles, nullptr);
    QTextBrowser opened;
    QDesktopServices::setUrlHandler("file", &opened, "setSource");
    showFiles->click();
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(opened.source(),
              QUrl::fromLocalFile(QString::fromStdString(paths.support().string())));

    auto* name = named<QLineEdit>(&account, "Name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->placeholderText(), "Your name");
    name->clear();
    type(name, "Ada Lovelace");
    EXPECT_EQ(settings.get(SettingKeys::profileName), "Ada Lovelace") << "stored as typed";
    EXPECT_EQ(state->profile().firstName(), "Ada");
    EXPECT_EQ(label(&account, "Your initials"), "AL");
    state->profile().setName("Grace Hopper");
    EXPECT_EQ(name->text(), "Grace Hopper");

    // 90 words over 60 seconds, in two apps.
    history->add(typedRecord(at(9, 9), wordsOf(80), "Mail", 50));
    dictate("one two three four five six seven eight nine ten", at(9, 9, 5), "Chat");
    EXPECT_EQ(label(&account, "Rank"), "Hatchling");
    EXPECT_EQ(label(&account, "Speaking pace"), "90 words a minute");
    auto* apps = named<QTreeWidget>(&account, "Where you talk most");
    ASSERT_NE(apps, nullptr);
    EXPECT_EQ(column(apps, 0), QStringList({"Mail", "Chat"}));
    history->correct(history->entries()[0], "what I meant");
    EXPECT_EQ(label(&account, "Corrections you've made"), "1");
}

} // namespace
