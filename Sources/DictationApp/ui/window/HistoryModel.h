#pragma once

#include "Calendar.h"
#include "Dictation.h"

#include <QAbstractListModel>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Clock;
class HistoryStore;

// The history as the History screen lists it: the dictations that match the search and the app
// filter, newest first, each calendar day opened by a row of its own. A row is an index into the
// store's list, so a long history costs a few bytes a dictation here, and a row's texts are
// made only when the view draws it.
class HistoryModel : public QAbstractListModel {
    Q_OBJECT
  public:
    enum Role {
        isDayRole = Qt::UserRole, // bool: a day's heading rather than a dictation
        idRole,                   // the dictation's id
        timeRole,                 // "10:04", with ", corrected" after it when corrected
        appRole,                  // the app it went into
        outcomeRole,              // the Outcome as an int
    };

    HistoryModel(const HistoryStore& history, const Clock& clock, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // What to look for (empty: everything) and which app to show (none: all of them).
    void setQuery(const QString& query);
    void setApp(const std::optional<std::string>& app);
    const std::optional<std::string>& app() const { return app_; }

    // Lists the store's entries again; connect it to the store's change signal.
    void refresh();

    // The dictation on that row; none on a day's row.
    const Dictation* dictation(const QModelIndex& index) const;
    // The row of the dictation with that id; invalid when it is not listed.
    QModelIndex find(const std::string& id) const;
    // How many dictations are listed (day rows aside).
    std::size_t dictationCount() const { return dictationCount_; }

    // Every app the history names, in the user's alphabetical order.
    QStringList apps() const;

    // A dictation's line: what it typed, or why it typed nothing.
    static QString summary(const Dictation& record);
    // "Today", "Yesterday", else the day as the user's locale writes it in full.
    static QString dayTitle(const std::string& dayKey, const std::string& today,
                            const std::string& yesterday);

  private:
    struct Row {
        std::uint32_t entry; // index into the store's list, newest first
        bool isDay;
    };

    void rebuild();

    const HistoryStore& history_;
    const Clock& clock_;
    Calendar calendar_;
    Dictation::Matcher matcher_{""};
    QString query_;
    std::optional<std::string> app_;
    std::vector<Row> rows_;
    std::size_t dictationCount_ = 0;
    std::string today_;
    std::string yesterday_;
};
