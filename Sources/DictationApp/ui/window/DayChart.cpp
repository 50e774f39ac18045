#include "ui/window/DayChart.h"

#include <QPainter>
#include <algorithm>

DayChart::DayChart(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void DayChart::setWords(std::vector<std::int64_t> words) {
    words_ = std::move(words);
    update();
}

// In lines of text, so the chart keeps its shape at any scale.
QSize DayChart::sizeHint() const {
    const int line = fontMetrics().height();
    return {line * 20, line * 5};
}

QSize DayChart::minimumSizeHint() const {
    const int line = fontMetrics().height();
    return {line * 8, line * 5};
}

void DayChart::paintEvent(QPaintEvent*) {
    if (words_.empty()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    const std::int64_t most = std::max<std::int64_t>(1, *std::ranges::max_element(words_));
    const qreal slot = qreal(width()) / qreal(words_.size());
    const qreal bar = slot * 0.6;
    const qreal floor = height() - 1;
    // A day without words still shows as a sliver on the baseline.
    const qreal least = 2;
    for (std::size_t day = 0; day < words_.size(); ++day) {
        const qreal tall = std::max(least, (height() - least) * qreal(words_[day]) / qreal(most));
        const QRectF rect(slot * qreal(day) + (slot - bar) / 2, floor - tall, bar, tall);
        const bool today = day + 1 == words_.size();
        QColor colour =
            colours.color(words_[day] > 0 ? QPalette::Highlight : QPalette::PlaceholderText);
        if (!today && words_[day] > 0) {
            colour.setAlphaF(0.7f);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRoundedRect(rect, bar / 6, bar / 6);
    }
}
