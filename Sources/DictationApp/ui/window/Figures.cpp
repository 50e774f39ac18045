#include "ui/window/Figures.h"

#include "Numbers.h"
#include "ui/window/ScreenParts.h"

#include <QDate>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QTime>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>

QString Figures::grouped(std::int64_t number) {
    return QString::fromStdString(Numbers::grouped(number));
}

QString Figures::compact(std::int64_t number) {
    return QString::fromStdString(Numbers::compact(number));
}

QString Figures::timeOfDay(Timestamp time, const Calendar& calendar) {
    // The calendar gives the hour; the minutes follow from the day's start, which holds for
    // every time zone whose offset is a whole number of hours away from the day's start.
    const auto start = calendar.startOfDay(time).value_or(time);
    const auto sinceStart = std::chrono::duration_cast<std::chrono::minutes>(time - start);
    const int minute = static_cast<int>(sinceStart.count() % 60);
    return QLocale().toString(QTime(calendar.hour(time), minute), QLocale::ShortFormat);
}

int Figures::weekday(Timestamp time, const Calendar& calendar) {
    const QDate date =
        QDate::fromString(QString::fromStdString(calendar.dayKey(time)), Qt::ISODate);
    return date.isValid() ? date.dayOfWeek() : 0;
}

QFont Figures::equalDigits(const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) != zero) {
            QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            fixed.setPointSizeF(font.pointSizeF());
            fixed.setWeight(font.weight());
            return fixed;
        }
    }
    return font;
}

QLabel* Figures::subheading(const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("subheading"));
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.15);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    label->setAccessibleName(text);
    return label;
}

QTreeWidget* Figures::appList(const QString& name) {
    auto* list = new QTreeWidget;
    list->setAccessibleName(name);
    list->setColumnCount(2);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFrameShape(QFrame::NoFrame);
    // Sized to its rows by showApps; a layout must not hand it the screen's spare height.
    list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    return list;
}

void Figures::showApps(QTreeWidget* list, std::span<const Insights::App> apps) {
    list->clear();
    QList<QTreeWidgetItem*> rows;
    for (const Insights::App& app : apps) {
        auto* row = new QTreeWidgetItem;
        row->setText(0, ScreenParts::text(app.name));
        row->setText(1, grouped(app.words) + QStringLiteral(" words"));
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        row->setFont(1, equalDigits(list->font()));
        rows << row;
    }
    list->addTopLevelItems(rows);
    // As tall as its rows, up to a handful; more scroll inside it.
    const int shown = std::clamp(static_cast<int>(rows.size()), 1, 6);
    const int row = rows.isEmpty() ? list->fontMetrics().height() : list->sizeHintForRow(0);
    list->setFixedHeight(shown * row + 2 * list->frameWidth());
}
