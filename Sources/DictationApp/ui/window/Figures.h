#pragma once

#include "Calendar.h"
#include "Dates.h"
#include "Insights.h"

#include <QFont>
#include <QString>
#include <cstdint>
#include <span>

class QLabel;
class QTreeWidget;

// How the progress screens write and lay out their numbers, so Home, Insights and Account agree.
namespace Figures {

// 80,000 in English, 80.000 in German: the user's locale.
QString grouped(std::int64_t number);
// 2.5K in English.
QString compact(std::int64_t number);
// "10:04" or "10:04 AM" as the user's locale writes a time, on a wall clock of `calendar`.
QString timeOfDay(Timestamp time, const Calendar& calendar);
// The weekday of that day in `calendar`, 1 (Monday) to 7, or 0 when the calendar cannot say.
int weekday(Timestamp time, const Calendar& calendar);

// `font` when its digits all have one width, else the desktop's fixed-width font at its size,
// so a figure that changes does not jitter.
QFont equalDigits(const QFont& font);

// A bold line over a group of figures.
QLabel* subheading(const QString& text);

// The apps of the insights with their words, most first; no widget per row.
QTreeWidget* appList(const QString& name);
void showApps(QTreeWidget* list, std::span<const Insights::App> apps);

} // namespace Figures
