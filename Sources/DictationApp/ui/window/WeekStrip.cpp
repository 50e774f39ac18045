#include "ui/window/WeekStrip.h"

#include <QEvent>
#include <QLocale>
#include <QPainter>
#include <QStringList>

WeekStrip::WeekStrip(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("This week"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void WeekStrip::setDays(std::vector<Day> days) {
    days_ = std::move(days);
    // What a screen reader says in place of the circles.
    QStringList talked;
    for (const Day& day : days_) {
        if (day.talked && day.weekday > 0) {
            talked << QLocale().dayName(day.weekday, QLocale::LongFormat);
        }
    }
    setAccessibleDescription(talked.isEmpty() ? QStringLiteral("No days yet")
                                              : QStringLiteral("Talked on ") +
                                                    talked.join(QStringLiteral(", ")));
    updateGeometry();
    update();
}

// Sizes follow the font, so the strip grows with the desktop's scale and text size.
int WeekStrip::diameter() const {
    return fontMetrics().height() * 8 / 5;
}

int WeekStrip::gap() const {
    return fontMetrics().height() / 3;
}

QSize WeekStrip::sizeHint() const {
    const int count = static_cast<int>(days_.empty() ? 7 : days_.size());
    return {count * diameter() + (count - 1) * gap(), diameter()};
}

void WeekStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    const int size = diameter();
    int x = 0;
    for (const Day& day : days_) {
        const QRectF circle(x + 1, 1, size - 2, size - 2);
        if (day.talked) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(colours.color(QPalette::Highlight));
        } else {
            painter.setPen(QPen(colours.color(QPalette::PlaceholderText), day.isToday ? 2 : 1));
            painter.setBrush(Qt::NoBrush);
        }
        painter.drawEllipse(circle);

        QFont font = this->font();
        font.setWeight(day.isToday ? QFont::Bold : QFont::Normal);
        painter.setFont(font);
        painter.setPen(
            colours.color(day.talked ? QPalette::HighlightedText : QPalette::WindowText));
        const QString letter =
            day.weekday > 0 ? QLocale().dayName(day.weekday, QLocale::NarrowFormat) : QString();
        painter.drawText(circle, Qt::AlignCenter, letter);
        x += size + gap();
    }
}

void WeekStrip::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
    }
}
