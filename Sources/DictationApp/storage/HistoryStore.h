#pragma once

#include "Dictation.h"
#include "HistoryFile.h"
#include "JSONFile.h"
#include "Totals.h"
#include "config/Settings.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

#include <QObject>
#include <chrono>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QTimer;

// The history newest first: a view over the store's list, which is kept oldest first like the
// file so that adding a dictation never moves the others. Valid until the store changes.
class HistoryEntries {
  public:
    HistoryEntries() = default;
    explicit HistoryEntries(const std::vector<Dictation>* list) : list_(list) {}

    std::size_t size() const { return list_ ? list_->size() : 0; }
    bool empty() const { return size() == 0; }
    const Dictation& operator[](std::size_t newest) const {
        return (*list_)[list_->size() - 1 - newest];
    }
    auto begin() const { return list_ ? list_->rbegin() : empty_.rbegin(); }
    auto end() const { return list_ ? list_->rend() : empty_.rend(); }
    // The same records oldest first, for the statistics.
    std::span<const Dictation> oldestFirst() const {
        return list_ ? std::span<const Dictation>(*list_) : std::span<const Dictation>();
    }
    // Newest first, as a list of its own.
    std::vector<Dictation> toVector() const { return {begin(), end()}; }

  private:
    static inline const std::vector<Dictation> empty_{};
    const std::vector<Dictation>* list_ = nullptr;
};

// The one owner of the dictation history while the app runs: the history file, the totals file
// and the kept recordings. Lives on the main thread. Storage failures never throw: they are
// logged and published as `problem` until a later operation succeeds.
class HistoryStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(HistoryEntries entries READ entries NOTIFY entriesChanged)
    Q_PROPERTY(std::optional<std::string> problem READ problem NOTIFY problemChanged)
    Q_PROPERTY(Totals totals READ totals NOTIFY totalsChanged)
    Q_PROPERTY(std::optional<Rank> newRank READ newRank WRITE setNewRank NOTIFY newRankChanged)

  public:
    struct Locations {
        std::filesystem::path history;
        std::filesystem::path totals;
        std::filesystem::path recordings;
        std::filesystem::path runs; // the timing log, removed with the history
        static Locations of(const Paths& paths);
    };

    static constexpr std::chrono::milliseconds purgeInterval = std::chrono::hours(1);

    // Loads the history and totals, applies the retention and starts the hourly purge.
    // The retention and "keepAudio" settings are read from `settings` at every use.
    HistoryStore(const Clock& clock, Locations locations, SettingsFile settings,
                 std::chrono::milliseconds purgeEvery = purgeInterval, QObject* parent = nullptr);

    HistoryEntries entries() const { return HistoryEntries(&list_); }
    const std::optional<std::string>& problem() const { return problem_; }
    const Totals& totals() const { return totals_; }
    const std::optional<Rank>& newRank() const { return newRank_; }
    // The rank toast clears it once shown.
    void setNewRank(std::optional<Rank> rank);

    // Whether `add` keeps this dictation's recording: "keepAudio" on and the text typed.
    bool keepsRecordingOf(const Dictation& entry) const;
    // Writes the entry's recording when one is kept for it; throws on failure.
    void keepRecording(const Dictation& entry, std::string_view wav);
    // Records a finished dictation of any outcome. With "keepAudio" on, a typed one keeps
    // `wav` (the recording's WAV bytes) in the recordings folder.
    void add(const Dictation& entry, std::string_view wav = {});
    // Sets or removes the user's correction of the entry with this id.
    void correct(const Dictation& entry, std::string_view text);
    void deleteEntry(const Dictation& entry);
    // Puts a deleted entry back in its place by time, with its recording when one was kept;
    // the totals never lost it. Nothing when an entry with its id is there.
    void restore(const Dictation& entry, std::string_view wav = {});
    // The recording kept for the entry; empty when none is.
    std::string recordingOf(const Dictation& entry) const;
    // Removes the history, the recordings, the timing log and the totals.
    void deleteAll();
    // Drops what the retention setting no longer keeps; touches no file when all is kept.
    void purge();

    // Where the entry's recording is kept.
    std::filesystem::path recordingFile(const Dictation& entry) const;

  signals:
    void entriesChanged();
    void problemChanged();
    void totalsChanged();
    void newRankChanged();

  private:
    void loadHistory();
    void loadTotals();
    void count(const Dictation& entry);
    // Rewrites the history file with `change` applied to what it holds now (which may include
    // dictations another instance added), and shows the result.
    using Change = std::function<std::vector<Dictation>(std::vector<Dictation>)>;
    void replace(const Change& change);
    // Runs a step that may throw; reports its failure, or clears the problem after success.
    bool attempt(const std::function<void()>& step);
    void report(const std::exception& error);
    void succeeded();
    void setProblem(std::optional<std::string> problem);

    const Clock& clock_;
    Locations locations_;
    SettingsFile settings_;
    std::vector<Dictation> list_; // oldest first, as in the file
    std::optional<std::string> problem_;
    Totals totals_;
    std::optional<Rank> newRank_;
    JSONFile<Totals> totalsFile_;
    HistoryFile file_;
    QTimer* purgeTimer_ = nullptr;
    bool areTotalsLoaded_ = false;
    bool isLoaded_ = false;
};
