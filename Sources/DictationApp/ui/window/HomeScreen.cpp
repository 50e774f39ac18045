#include "ui/window/HomeScreen.h"

#include "storage/HistoryStore.h"
#include "storage/Stores.h"
#include "ui/window/Figures.h"
#include "ui/window/GettingStarted.h"
#include "ui/window/HistoryModel.h"
#include "ui/window/Icons.h"
#include "ui/window/ProgressCard.h"
#include "ui/window/ScreenParts.h"

#include <QDate>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

HomeScreen::HomeScreen(AppState& state, const AppParts& parts, QWidget* parent)
    : QWidget(parent), state_(state), parts_(parts) {
    QVBoxLayout* column = ScreenParts::scrollingColumn(this);

    greeting_ = ScreenParts::heading(QString());
    ScreenParts::describe(greeting_, QStringLiteral("Greeting"));
    column->addWidget(greeting_);
    problem_ = ScreenParts::problemLine();
    column->addWidget(problem_);
    card_ = new ProgressCard(parts.history, *parts.clock);
    column->addWidget(card_);
    steps_ = makeSteps();
    column->addWidget(steps_);
    column->addWidget(makeRecent());
    column->addStretch();

    HistoryStore& history = parts.history;
    connect(&history, &HistoryStore::entriesChanged, this, [this] {
        showGreeting();
        showRecent();
    });
    connect(&history, &HistoryStore::totalsChanged, this, &HomeScreen::showSteps);
    connect(&history, &HistoryStore::problemChanged, this,
            [this] { ScreenParts::showProblem(problem_, parts_.history.problem()); });
    connect(&state.profile(), &Profile::nameChanged, this, &HomeScreen::showGreeting);
    connect(&parts.settings, &Settings::changed, this, &HomeScreen::showSteps);
    connect(&parts.words, &WordStore::termsChanged, this, &HomeScreen::showSteps);
    connect(&parts.snippets, &SnippetStore::itemsChanged, this, &HomeScreen::showSteps);
    connect(&state, &AppState::keyChanged, this, &HomeScreen::showSteps);
    // Connecting happens in the settings sheet, which covers Home without hiding it.
    connect(&state, &AppState::settingsTabChanged, this, [this] {
        if (!state_.settingsTab()) {
            showSteps();
        }
    });

    ScreenParts::showProblem(problem_, history.problem());
    showGreeting();
    showSteps();
    showRecent();
}

QString HomeScreen::greeting(int hour, const QString& firstName) {
    QString text = hour >= 5 && hour <= 11    ? QStringLiteral("Good morning")
                   : hour >= 12 && hour <= 16 ? QStringLiteral("Good afternoon")
                                              : QStringLiteral("Good evening");
    if (!firstName.isEmpty()) {
        text += QStringLiteral(", ") + firstName;
    }
    return text;
}

QWidget* HomeScreen::makeSteps() {
    auto* box = new QWidget;
    box->setAccessibleName(QStringLiteral("Getting started"));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(8);

    const std::vector<Step> steps = GettingStarted::steps(state_, parts_, [this] { tryHere(); });
    for (const Step& step : steps) {
        StepRow row;
        row.row = new QWidget;
        row.row->setAccessibleName(step.title);
        auto* line = new QHBoxLayout(row.row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(12);
        row.mark = new QLabel;
        const int size = row.mark->fontMetrics().height() * 3 / 2;
        row.mark->setFixedSize(size, size);
        line->addWidget(row.mark, 0, Qt::AlignTop);

        auto* words = new QVBoxLayout;
        words->setSpacing(2);
        auto* title = new QLabel(step.title);
        QFont bold = title->font();
        bold.setWeight(QFont::DemiBold);
        title->setFont(bold);
        words->addWidget(title);
        row.pitch = ScreenParts::note(step.pitch);
        words->addWidget(row.pitch);
        line->addLayout(words, 1);

        row.button = new QPushButton(step.button);
        row.button->setAccessibleName(step.button);
        connect(row.button, &QPushButton::clicked, this, step.open);
        line->addWidget(row.button, 0, Qt::AlignVCenter);
        layout->addWidget(row.row);
        rows_.push_back(row);

        if (step.id == "talk") {
            tryField_ = new QPlainTextEdit;
            tryField_->setAccessibleName(QStringLiteral("Try it here"));
            tryField_->setPlaceholderText(QStringLiteral("Try dictating here"));
            tryField_->setTabChangesFocus(true);
            tryField_->setMaximumHeight(tryField_->fontMetrics().height() * 5);
            tryField_->hide();
            layout->addWidget(tryField_);
        }
    }

    auto* hide = new QPushButton(QStringLiteral("Hide these steps"));
    hide->setAccessibleName(hide->text());
    hide->setFlat(true);
    connect(hide, &QPushButton::clicked, this,
            [this] { parts_.settings.set(SettingKeys::hidesSteps, true); });
    layout->addWidget(hide, 0, Qt::AlignLeft);
    return box;
}

QWidget* HomeScreen::makeRecent() {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->addWidget(Figures::subheading(QStringLiteral("Recent")));
    header->addStretch();
    auto* seeAll = new QPushButton(QStringLiteral("See all"));
    seeAll->setAccessibleName(seeAll->text());
    seeAll->setFlat(true);
    connect(seeAll, &QPushButton::clicked, this, [this] { state_.setSection(Section::history); });
    header->addWidget(seeAll);
    layout->addLayout(header);

    recent_ = new QTreeWidget;
    recent_->setAccessibleName(QStringLiteral("Recent"));
    recent_->setColumnCount(3);
    recent_->setHeaderHidden(true);
    recent_->setRootIsDecorated(false);
    recent_->setUniformRowHeights(true);
    recent_->setFrameShape(QFrame::NoFrame);
    recent_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    recent_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    recent_->header()->setStretchLastSection(false);
    recent_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    recent_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    recent_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    connect(recent_, &QTreeWidget::itemActivated, this,
            [this] { state_.setSection(Section::history); });
    layout->addWidget(recent_);

    recentEmpty_ = ScreenParts::note(QStringLiteral("What you dictate shows up here."));
    layout->addWidget(recentEmpty_);
    return box;
}

void HomeScreen::showGreeting() {
    const int hour = parts_.clock->calendar().hour(parts_.clock->now());
    greeting_->setText(greeting(hour, state_.profile().firstName()));
}

void HomeScreen::showSteps() {
    const bool hidden = parts_.settings.get(SettingKeys::hidesSteps);
    steps_->setVisible(!hidden);
    if (hidden) {
        return; // for good: nothing there is read again
    }
    const std::vector<Step> steps = GettingStarted::steps(state_, parts_, [] {});
    for (std::size_t i = 0; i < steps.size() && i < rows_.size(); ++i) {
        const StepRow& row = rows_[i];
        row.pitch->setText(steps[i].pitch);
        row.pitch->setAccessibleName(steps[i].pitch);
        const QString mark = steps[i].isDone ? QStringLiteral("Done") : QStringLiteral("To do");
        row.mark->setAccessibleName(mark);
        row.mark->setToolTip(mark);
        row.mark->setPixmap(steps[i].isDone
                                ? Icons::symbol("checkmark.seal.fill")
                                      .pixmap(row.mark->size(), row.mark->devicePixelRatioF())
                                : QPixmap());
    }
}

void HomeScreen::showRecent() {
    recent_->clear();
    const HistoryEntries entries = parts_.history.entries();
    const Calendar calendar = parts_.clock->calendar();
    const QString today = ScreenParts::text(calendar.dayKey(parts_.clock->now()));
    QList<QTreeWidgetItem*> rows;
    for (std::size_t i = 0; i < entries.size() && rows.size() < recentCount; ++i) {
        const Dictation& record = entries[i];
        auto* row = new QTreeWidgetItem;
        const QString text = HistoryModel::summary(record);
        row->setText(0, text);
        row->setToolTip(0, text);
        row->setText(1, ScreenParts::text(record.app));
        QString when = Figures::timeOfDay(record.date, calendar);
        if (const QString day = ScreenParts::text(calendar.dayKey(record.date)); day != today) {
            when = QLocale().toString(QDate::fromString(day, Qt::ISODate), QLocale::ShortFormat) +
                   QLatin1Char(' ') + when;
        }
        row->setText(2, when);
        rows << row;
    }
    recent_->addTopLevelItems(rows);
    const int rowHeight = rows.isEmpty() ? 0 : recent_->sizeHintForRow(0);
    recent_->setFixedHeight(static_cast<int>(rows.size()) * rowHeight + 2 * recent_->frameWidth());
    recent_->setVisible(!rows.isEmpty());
    recentEmpty_->setVisible(rows.isEmpty());
}

void HomeScreen::tryHere() {
    tryField_->show();
    tryField_->setFocus(Qt::OtherFocusReason);
}

void HomeScreen::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The hour, the streak and the week move on while the window is away.
    showGreeting();
    card_->refresh();
    showSteps();
}
