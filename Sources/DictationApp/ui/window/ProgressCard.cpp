#include "ui/window/ProgressCard.h"

#include "storage/HistoryStore.h"
#include "ui/window/Figures.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/WeekStrip.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

ProgressCard::ProgressCard(HistoryStore& history, const Clock& clock, QWidget* parent)
    : QFrame(parent), history_(history), clock_(clock) {
    setObjectName(QStringLiteral("progressCard"));
    setAccessibleName(QStringLiteral("Progress"));
    setFrameShape(QFrame::StyledPanel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(12);

    auto* figures = new QHBoxLayout;
    figures->setSpacing(32);
    layout->addLayout(figures);
    figures->addWidget(ScreenParts::figure(QStringLiteral("total words"), &words_));
    figures->addWidget(ScreenParts::figure(QStringLiteral("words a minute"), &pace_));
    figures->addWidget(ScreenParts::figure(QStringLiteral("day streak"), &streak_));
    figures->addStretch();
    for (QLabel* number : {words_, pace_, streak_}) {
        number->setFont(Figures::equalDigits(number->font()));
    }
    week_ = new WeekStrip;
    figures->addWidget(week_, 0, Qt::AlignVCenter);

    auto* rankLine = new QHBoxLayout;
    layout->addLayout(rankLine);
    rank_ = new QLabel;
    ScreenParts::describe(rank_, QStringLiteral("Rank"));
    QFont bold = rank_->font();
    bold.setWeight(QFont::DemiBold);
    rank_->setFont(bold);
    rankLine->addWidget(rank_);
    rankLine->addStretch();
    caption_ = ScreenParts::note(QString());
    ScreenParts::describe(caption_, QStringLiteral("To the next rank"));
    caption_->setWordWrap(false);
    rankLine->addWidget(caption_);

    bar_ = new QProgressBar;
    bar_->setAccessibleName(QStringLiteral("Rank progress"));
    bar_->setRange(0, barSteps);
    bar_->setTextVisible(false);
    bar_->setMaximumHeight(fontMetrics().height() / 2 + 2);
    layout->addWidget(bar_);

    connect(&history, &HistoryStore::totalsChanged, this, &ProgressCard::refresh);
    refresh();
}

double ProgressCard::fraction(std::int64_t words) {
    return Ranks::progress(Ranks::from(words), words);
}

QString ProgressCard::caption(std::int64_t words) {
    const auto next = Ranks::next(Ranks::from(words));
    if (!next) {
        return QStringLiteral("The top rank");
    }
    return Figures::grouped(Ranks::words(*next) - words) + QStringLiteral(" words to ") +
           ScreenParts::text(Ranks::rawValue(*next));
}

void ProgressCard::refresh() {
    const Totals& totals = history_.totals();
    const Calendar calendar = clock_.calendar();
    const Timestamp now = clock_.now();

    words_->setText(Figures::grouped(totals.words));
    pace_->setText(Figures::grouped(totals.wordsPerMinute()));
    streak_->setText(Figures::grouped(totals.streak(now, calendar)));

    const std::string today = calendar.dayKey(now);
    std::vector<WeekStrip::Day> days;
    for (const auto& [date, talked] : totals.week(now, calendar)) {
        days.push_back({Figures::weekday(date, calendar), talked, calendar.dayKey(date) == today});
    }
    week_->setDays(std::move(days));

    rank_->setText(ScreenParts::text(Ranks::rawValue(Ranks::from(totals.words))));
    bar_->setValue(static_cast<int>(std::lround(fraction(totals.words) * barSteps)));
    caption_->setText(caption(totals.words));
}
