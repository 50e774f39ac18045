#include "storage/HistoryStore.h"

#include "FileError.h"
#include "JSONFile.h"
#include "Retention.h"
#include "Uuid.h"
#include "platform/AppError.h"
#include "platform/Log.h"
#include "storage/Stores.h"

#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

FileError systemFailure(const char* what, const fs::path& path, int code) {
    return FileError(std::string(what) + " " + path.filename().string() + ": " +
                     std::strerror(code));
}

// Removes a file; one that is not there is fine.
void removeFile(const fs::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw systemFailure("couldn't remove", path, errno);
    }
}

void writeFile(const fs::path& path, std::string_view bytes) {
    // Written in place, not through a temporary file: a recording is written once, never replaced.
    Files::Descriptor file = Files::createPrivate(path, Files::Contents::discard);
    if (!Files::writeAll(file.get(), bytes) || !file.close()) {
        const int code = errno;
        ::unlink(path.c_str()); // no half recording to play back
        throw systemFailure("couldn't write", path, code);
    }
}

} // namespace

HistoryStore::Locations HistoryStore::Locations::of(const Paths& paths) {
    return {paths.history(), paths.totals(), paths.recordings(), paths.runs()};
}

HistoryStore::HistoryStore(const Clock& clock, Locations locations, SettingsFile settings,
                           std::chrono::milliseconds purgeEvery, QObject* parent)
    : QObject(parent), clock_(clock), locations_(std::move(locations)),
      settings_(std::move(settings)), totalsFile_(locations_.totals), file_(locations_.history) {
    loadHistory();
    loadTotals();
    purge();
    purgeTimer_ = new QTimer(this); // a child: it stops with the store
    purgeTimer_->setInterval(purgeEvery);
    connect(purgeTimer_, &QTimer::timeout, this, &HistoryStore::purge);
    purgeTimer_->start();
}

void HistoryStore::loadHistory() {
    try {
        // Our own folder: nobody else may replace the files in it.
        Files::createPrivateFolder(locations_.history.parent_path());
        list_ = file_.load();
        isLoaded_ = true;
        emit entriesChanged();
        succeeded();
    } catch (const std::exception& error) {
        report(error);
    }
}

void HistoryStore::loadTotals() {
    try {
        auto stored = totalsFile_.load();
        if (!stored && !isLoaded_) {
            return; // counting now would start from zero and lose the real totals
        }
        const Calendar calendar = clock_.calendar();
        if (!stored) {
            totals_ = Totals::from(list_, calendar);
        } else if (stored->months.empty()) {
            totals_ = stored->with(Totals::from(list_, calendar).months);
        } else {
            totals_ = std::move(*stored);
        }
        areTotalsLoaded_ = true;
        emit totalsChanged();
        succeeded();
    } catch (const std::exception& error) {
        report(error);
    }
}

void HistoryStore::setNewRank(std::optional<Rank> rank) {
    if (newRank_ != rank) {
        newRank_ = rank;
        emit newRankChanged();
    }
}

fs::path HistoryStore::recordingFile(const Dictation& entry) const {
    return locations_.recordings / (Uuid::canonical(entry.id) + ".wav");
}

bool HistoryStore::keepsRecordingOf(const Dictation& entry) const {
    return entry.outcome == Outcome::typed && settings_.get(SettingKeys::keepAudio);
}

void HistoryStore::add(const Dictation& entry, std::string_view wav) {
    if (settings_.get(SettingKeys::retention) == Retention::off) {
        return;
    }
    attempt([&] {
        file_.append(entry);
        list_.push_back(entry);
        emit entriesChanged();
        count(entry);
        keepRecording(entry, wav);
    });
}

void HistoryStore::count(const Dictation& entry) {
    if (!areTotalsLoaded_) {
        return;
    }
    Totals updated = totals_.adding(entry, clock_.calendar());
    totalsFile_.save(updated); // throws: the published totals stay as they were
    const Rank before = Ranks::from(totals_.words);
    const Rank after = Ranks::from(updated.words);
    totals_ = std::move(updated);
    emit totalsChanged();
    if (before != after) {
        setNewRank(after);
    }
}

void HistoryStore::purge() {
    const Retention retention = settings_.get(SettingKeys::retention);
    const Timestamp now = clock_.now();
    const bool keepsAll = std::all_of(list_.begin(), list_.end(), [&](const Dictation& entry) {
        return Retentions::isKept(retention, entry.date, now);
    });
    if (!keepsAll) {
        replace(
            [&](std::vector<Dictation> list) { return Retentions::keep(retention, list, now); });
    }
}

void HistoryStore::correct(const Dictation& entry, std::string_view text) {
    replace([&](std::vector<Dictation> list) {
        for (auto& each : list) {
            if (each.id == entry.id) {
                each = each.correcting(text);
            }
        }
        return list;
    });
}

void HistoryStore::deleteEntry(const Dictation& entry) {
    replace([&](std::vector<Dictation> list) {
        std::erase_if(list, [&](const Dictation& each) { return each.id == entry.id; });
        return list;
    });
}

void HistoryStore::restore(const Dictation& entry, std::string_view wav) {
    replace([&](std::vector<Dictation> list) {
        if (std::any_of(list.begin(), list.end(),
                        [&](const Dictation& each) { return each.id == entry.id; })) {
            return list;
        }
        const auto later = std::find_if(list.begin(), list.end(), [&](const Dictation& each) {
            return each.date > entry.date;
        });
        list.insert(later, entry);
        return list;
    });
    attempt([&] { keepRecording(entry, wav); });
}

void HistoryStore::keepRecording(const Dictation& entry, std::string_view wav) {
    if (keepsRecordingOf(entry) && !wav.empty() && Uuid::isValid(entry.id)) {
        Files::createPrivateFolder(locations_.recordings);
        writeFile(recordingFile(entry), wav);
    }
}

std::string HistoryStore::recordingOf(const Dictation& entry) const {
    if (!Uuid::isValid(entry.id)) {
        return {};
    }
    std::ifstream in(recordingFile(entry), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void HistoryStore::replace(const Change& change) {
    attempt([&] {
        if (!isLoaded_) {
            // Writing now would replace the unread file with the little that is in memory.
            throw AppError::process("the history file could not be read");
        }
        auto [before, after] = file_.rewrite(change);
        std::unordered_set<std::string> staying;
        for (const auto& entry : after) {
            staying.insert(entry.id);
        }
        std::vector<Dictation> removed;
        for (auto& entry : before) {
            if (!staying.contains(entry.id)) {
                removed.push_back(std::move(entry));
            }
        }
        list_ = std::move(after);
        emit entriesChanged();

        std::optional<FileError> firstFailure;
        for (const auto& entry : removed) {
            try {
                removeFile(recordingFile(entry));
            } catch (const FileError& error) {
                if (!firstFailure) {
                    firstFailure = error;
                }
            }
        }
        if (firstFailure) {
            throw *firstFailure;
        }
    });
}

void HistoryStore::deleteAll() {
    attempt([&] {
        removeFile(locations_.history);
        std::error_code error;
        fs::remove_all(locations_.recordings, error);
        if (error) {
            throw FileError("couldn't remove the recordings: " + error.message());
        }
        removeFile(locations_.runs);
        removeFile(locations_.totals);
        list_.clear();
        totals_ = Totals{};
        isLoaded_ = true;
        areTotalsLoaded_ = true;
        emit entriesChanged();
        emit totalsChanged();
    });
}

bool HistoryStore::attempt(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::exception& error) {
        report(error);
        return false;
    }
    succeeded();
    return true;
}

void HistoryStore::report(const std::exception& error) {
    log("history: " + std::string(error.what()));
    setProblem("History couldn't be saved: " + StoreErrors::userText(error));
}

void HistoryStore::succeeded() {
    if (isLoaded_) {
        setProblem(std::nullopt);
    }
}

void HistoryStore::setProblem(std::optional<std::string> problem) {
    if (problem_ != problem) {
        problem_ = std::move(problem);
        emit problemChanged();
    }
}
