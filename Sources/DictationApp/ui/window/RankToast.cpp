#include "ui/window/RankToast.h"

#include "storage/HistoryStore.h"

RankToast::RankToast(HistoryStore& history, Scheduler& scheduler, QWidget* window)
    : QLabel(window), history_(history), scheduler_(scheduler) {
    setObjectName(QStringLiteral("rankToast"));
    setAlignment(Qt::AlignCenter);
    setMargin(12);
    setAutoFillBackground(true);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
    connect(&history, &HistoryStore::newRankChanged, this, &RankToast::update);
}

void RankToast::windowShown() {
    update();
}

void RankToast::update() {
    const auto& rank = history_.newRank();
    if (!rank) {
        timer_.reset();
        hide();
        return;
    }
    setText(QStringLiteral("You're a ") + QString::fromUtf8(Ranks::rawValue(*rank).data()) +
            QStringLiteral(" now"));
    setAccessibleName(text());
    QWidget* window = parentWidget();
    if (!window || !window->isVisible()) {
        return; // shown, and timed, once the window is
    }
    place();
    show();
    raise();
    if (!timer_) {
        timer_ = scheduler_.start(seconds, false, [this] {
            timer_.reset();
            history_.setNewRank(std::nullopt);
        });
    }
}

void RankToast::place() {
    if (QWidget* window = parentWidget()) {
        adjustSize();
        move((window->width() - width()) / 2, 16);
    }
}
