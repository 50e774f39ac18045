#include "ui/window/RankToast.h"

#include "storage/HistoryStore.h"

RankToast::RankToast(AppState& state, QWidget* window) : QLabel(window), state_(state) {
    setObjectName(QStringLiteral("rankToast"));
    setAlignment(Qt::AlignCenter);
    setMargin(12);
    setAutoFillBackground(true);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
    connect(&state.history(), &HistoryStore::newRankChanged, this, &RankToast::update);
}

void RankToast::windowShown() {
    update();
}

void RankToast::update() {
    const auto& rank = state_.history().newRank();
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
        timer_ = state_.scheduler().start(seconds, false, [this] {
            timer_.reset();
            state_.history().setNewRank(std::nullopt);
        });
    }
}

void RankToast::place() {
    if (QWidget* window = parentWidget()) {
        adjustSize();
        move((window->width() - width()) / 2, 16);
    }
}
