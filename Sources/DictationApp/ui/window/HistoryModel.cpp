#include "ui/window/HistoryModel.h"

#include "platform/Clock.h"
#include "storage/HistoryStore.h"
#include "ui/window/Figures.h"
#include "ui/window/Icons.h"
#include "ui/window/ScreenParts.h"

#include <QCollator>
#include <QDate>
#include <QLocale>
#include <algorithm>
#include <string_view>
#include <unordered_set>

using ScreenParts::text;

HistoryModel::HistoryModel(const HistoryStore& history, const Clock& clock, QObject* parent)
    : QAbstractListModel(parent), history_(history), clock_(clock), calendar_(clock.calendar()) {
    rebuild();
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

Qt::ItemFlags HistoryModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return Qt::NoItemFlags;
    }
    // A day's heading is read, never chosen.
    return rows_[static_cast<std::size_t>(index.row())].isDay
               ? Qt::ItemIsEnabled
               : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return {};
    }
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const HistoryEntries entries = history_.entries();
    if (row.entry >= entries.size()) {
        return {};
    }
    const Dictation& record = entries[row.entry];
    if (role == isDayRole) {
        return row.isDay;
    }
    if (row.isDay) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
            return dayTitle(calendar_.dayKey(record.date), today_, yesterday_);
        }
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return summary(record);
    case Qt::ToolTipRole:
        return record.outcome == Outcome::typed ? text(record.finalText()) : summary(record);
    case Qt::AccessibleTextRole:
        return data(index, timeRole).toString() + QStringLiteral(", ") + text(record.app) +
               QStringLiteral(": ") + summary(record);
    case Qt::DecorationRole:
        if (record.outcome == Outcome::failed) {
            return Icons::symbol("warning");
        }
        if (record.outcome == Outcome::silent) {
            return Icons::symbol("speaker.slash");
        }
        return {};
    case idRole:
        return text(record.id);
    case timeRole: {
        QString time = Figures::timeOfDay(record.date, calendar_);
        if (record.corrected) {
            time += QStringLiteral(", corrected");
        }
        return time;
    }
    case appRole:
        return text(record.app);
    case outcomeRole:
        return static_cast<int>(record.outcome);
    default:
        return {};
    }
}

QString HistoryModel::summary(const Dictation& record) {
    if (record.outcome == Outcome::typed) {
        return text(record.finalText()).simplified();
    }
    if (record.outcome == Outcome::failed && record.problem) {
        return text(*record.problem);
    }
    return QStringLiteral("Nothing typed");
}

void HistoryModel::setQuery(const QString& query) {
    if (query == query_) {
        return;
    }
    query_ = query;
    matcher_ = Dictation::Matcher(query.toStdString());
    refresh();
}

void HistoryModel::setApp(const std::optional<std::string>& app) {
    if (app == app_) {
        return;
    }
    app_ = app;
    refresh();
}

void HistoryModel::refresh() {
    beginResetModel();
    rebuild();
    endResetModel();
}

void HistoryModel::rebuild() {
    calendar_ = clock_.calendar();
    const Timestamp now = clock_.now();
    today_ = calendar_.dayKey(now);
    yesterday_ = calendar_.dayKey(calendar_.addingDays(now, -1).value_or(now));

    const HistoryEntries entries = history_.entries();
    std::vector<std::uint32_t> shown;
    shown.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Dictation& record = entries[i];
        if ((!app_ || record.app == *app_) && matcher_(record)) {
            shown.push_back(static_cast<std::uint32_t>(i));
        }
    }
    // The file keeps the order dictations were added in; a clock set back can put an older
    // date after a newer one.
    const auto newerFirst = [&entries](std::uint32_t a, std::uint32_t b) {
        return entries[a].date > entries[b].date;
    };
    if (!std::is_sorted(shown.begin(), shown.end(), newerFirst)) {
        std::stable_sort(shown.begin(), shown.end(), newerFirst);
    }

    rows_.clear();
    rows_.reserve(shown.size() + shown.size() / 8 + 1);
    // One calendar look-up per day rather than per dictation: the day's bounds are kept while
    // the dates fall inside them.
    std::optional<Timestamp> dayStart;
    std::optional<Timestamp> dayEnd;
    for (std::uint32_t i : shown) {
        const Timestamp date = entries[i].date;
        if (!dayStart || !dayEnd || date < *dayStart || date >= *dayEnd) {
            dayStart = calendar_.startOfDay(date);
            dayEnd = dayStart ? calendar_.addingDays(*dayStart, 1) : std::nullopt;
            rows_.push_back({i, true});
        }
        rows_.push_back({i, false});
    }
    dictationCount_ = shown.size();
}

const Dictation* HistoryModel::dictation(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return nullptr;
    }
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const HistoryEntries entries = history_.entries();
    return row.isDay || row.entry >= entries.size() ? nullptr : &entries[row.entry];
}

QModelIndex HistoryModel::find(const std::string& id) const {
    const HistoryEntries entries = history_.entries();
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        if (!rows_[row].isDay && rows_[row].entry < entries.size() &&
            entries[rows_[row].entry].id == id) {
            return index(static_cast<int>(row));
        }
    }
    return {};
}

QStringList HistoryModel::apps() const {
    std::unordered_set<std::string_view> seen;
    QStringList names;
    for (const Dictation& record : history_.entries()) {
        if (seen.insert(record.app).second) {
            names << text(record.app);
        }
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), collator);
    return names;
}

QString HistoryModel::dayTitle(const std::string& dayKey, const std::string& today,
                               const std::string& yesterday) {
    if (dayKey == today) {
        return QStringLiteral("Today");
    }
    if (dayKey == yesterday) {
        return QStringLiteral("Yesterday");
    }
    const QDate date = QDate::fromString(text(dayKey), Qt::ISODate);
    return date.isValid() ? QLocale().toString(date, QLocale::LongFormat) : text(dayKey);
}
