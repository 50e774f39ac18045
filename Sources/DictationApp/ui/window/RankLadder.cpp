#include "ui/window/RankLadder.h"

#include "ui/window/Figures.h"
#include "ui/window/Icons.h"
#include "ui/window/ScreenParts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

RankLadder::RankLadder(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Ranks"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    for (std::size_t i = 0; i < Ranks::allCases.size(); ++i) {
        const Rank rank = Ranks::allCases[i];
        const QString name = ScreenParts::text(Ranks::rawValue(rank));
        auto* row = new QWidget;
        row->setAccessibleName(name);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(10);
        auto* mark = new QLabel;
        const int size = mark->fontMetrics().height() * 5 / 4;
        mark->setFixedSize(size, size);
        line->addWidget(mark);
        auto* title = new QLabel(name);
        title->setAccessibleName(name);
        line->addWidget(title, 1);
        auto* from = ScreenParts::note(threshold(rank));
        from->setFont(Figures::equalDigits(from->font()));
        line->addWidget(from);
        layout->addWidget(row);
        marks_[i] = mark;
    }
    setWords(0);
}

QString RankLadder::threshold(Rank rank) {
    return rank == Rank::hatchling ? QStringLiteral("Start") : Figures::compact(Ranks::words(rank));
}

void RankLadder::setWords(std::int64_t words) {
    const Rank reached = Ranks::from(words);
    for (std::size_t i = 0; i < marks_.size(); ++i) {
        QLabel* mark = marks_[i];
        const bool isReached = Ranks::allCases[i] <= reached;
        mark->setAccessibleName(isReached ? QStringLiteral("Reached") : QStringLiteral("Locked"));
        mark->setToolTip(mark->accessibleName());
        mark->setPixmap(Icons::symbol(isReached ? "checkmark.seal.fill" : "lock")
                            .pixmap(mark->size(), mark->devicePixelRatioF()));
    }
}
