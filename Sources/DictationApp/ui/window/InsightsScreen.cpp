#include "ui/window/InsightsScreen.h"

#include "Insights.h"
#include "storage/HistoryStore.h"
#include "ui/window/DayChart.h"
#include "ui/window/Figures.h"
#include "ui/window/RankLadder.h"
#include "ui/window/ScreenParts.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>

InsightsScreen::InsightsScreen(HistoryStore& history, const Clock& clock, QWidget* parent)
    : QWidget(parent), history_(history), clock_(clock) {
    QVBoxLayout* column = ScreenParts::scrollingColumn(this);

    column->addWidget(ScreenParts::heading(QStringLiteral("Insights")));
    column->addWidget(ScreenParts::note(QStringLiteral("From the history kept on this computer.")));
    problem_ = ScreenParts::problemLine();
    column->addWidget(problem_);
    nothingYet_ = ScreenParts::note(QStringLiteral("Nothing yet."));
    column->addWidget(nothingYet_);

    figures_ = new QWidget;
    auto* figures = new QVBoxLayout(figures_);
    figures->setContentsMargins(0, 0, 0, 0);
    figures->setSpacing(20);
    QWidget* days = ScreenParts::figure(QStringLiteral("words in the last 14 days"), &recentWords_);
    chart_ = new DayChart;
    chart_->setAccessibleName(QStringLiteral("Words per day"));
    static_cast<QVBoxLayout*>(days->layout())->insertWidget(1, chart_);
    figures->addWidget(days);

    auto* row = new QHBoxLayout;
    row->setSpacing(40);
    row->addWidget(ScreenParts::figure(QStringLiteral("saved over typing at 40 wpm"), &saved_));
    row->addWidget(ScreenParts::figure(QStringLiteral("usual wait"), &wait_));
    row->addWidget(ScreenParts::figure(QStringLiteral("corrections"), &corrections_));
    row->addStretch();
    figures->addLayout(row);
    for (QLabel* number : {recentWords_, saved_, wait_, corrections_}) {
        number->setFont(Figures::equalDigits(number->font()));
    }

    figures->addWidget(Figures::subheading(QStringLiteral("Where you talk")));
    apps_ = Figures::appList(QStringLiteral("Where you talk"));
    figures->addWidget(apps_);
    column->addWidget(figures_);

    column->addWidget(Figures::subheading(QStringLiteral("Ranks")));
    ladder_ = new RankLadder;
    column->addWidget(ladder_);
    column->addStretch();

    connect(&history, &HistoryStore::entriesChanged, this, &InsightsScreen::refresh);
    connect(&history, &HistoryStore::totalsChanged, this, &InsightsScreen::refresh);
    connect(&history, &HistoryStore::problemChanged, this,
            [this] { ScreenParts::showProblem(problem_, history_.problem()); });
    ScreenParts::showProblem(problem_, history.problem());
    refresh();
}

void InsightsScreen::refresh() {
    HistoryStore& history = history_;
    ladder_->setWords(history.totals().words);

    const std::span<const Dictation> records = history.entries().oldestFirst();
    const bool any = std::ranges::any_of(
        records, [](const Dictation& record) { return record.outcome == Outcome::typed; });
    nothingYet_->setVisible(!any);
    figures_->setVisible(any);
    if (!any) {
        return;
    }

    const Insights insights = Insights::from(records, clock_.now(), dayCount, clock_.calendar());
    const DictationStats stats = DictationStats::from(records);

    std::vector<std::int64_t> words;
    for (const Insights::Day& day : insights.days) {
        words.push_back(day.words);
    }
    recentWords_->setText(
        Figures::grouped(std::accumulate(words.begin(), words.end(), std::int64_t{0})));
    chart_->setWords(std::move(words));
    saved_->setText(Figures::grouped(insights.minutesSaved) + QStringLiteral(" min"));
    wait_->setText(QString::asprintf("%.1f s", double(stats.medianMs) / 1000.0));
    corrections_->setText(Figures::grouped(insights.corrected));
    Figures::showApps(apps_, insights.apps);
}

void InsightsScreen::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Today may have become another day since the last look.
    refresh();
}
