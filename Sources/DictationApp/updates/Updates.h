#pragma once

#include "config/Settings.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "updates/FeedFetch.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

struct UpdateOptions {
    FeedFetch::Limits limits;
    double firstCheck = 60;      // seconds after start
    double interval = 24 * 3600; // between automatic checks
};

// Checking for a newer release: the feed an installed tree names is fetched on a worker thread,
// read on the main thread and compared with our version; a newer release is published with a
// link to its page for the tray and the General tab to show. Nothing is installed or fetched
// but the feed. Lives on the main thread.
class Updates : public QObject {
    Q_OBJECT
  public:
    struct Release {
        QString version;
        QUrl page; // empty when the feed gives no usable link
        bool operator==(const Release&) const = default;
    };

    using Options = UpdateOptions;

    static inline const QString upToDate = QStringLiteral("You're up to date.");
    // "A newer version, <version>, is available."
    static QString newerText(const QString& version);

    // An updater when the installed tree's bundle.json holds a feed address, a public key and
    // our version; otherwise nothing, and no update checks.
    static std::unique_ptr<Updates> forBundle(const Paths& paths, Settings& settings,
                                              Scheduler& scheduler, Deliver deliver = mainThread(),
                                              Options options = {});

    // Checks `feed`, which must be signed with `publicKey` (base64, as "SUPublicEDKey"
    // holds it), against `ours` (a dotted version). Automatic checks follow the
    // "checksForUpdates" setting.
    Updates(std::string feed, std::string publicKey, std::string ours, Settings& settings,
            Scheduler& scheduler, Deliver deliver = mainThread(), Options options = {},
            QObject* parent = nullptr);
    // Stops a fetch in flight and waits for its thread.
    ~Updates() override;
    Updates(const Updates&) = delete;
    Updates& operator=(const Updates&) = delete;

    // "Check for Updates…": like an automatic check, and when nothing is newer it says so.
    void checkNow();
    bool isChecking() const { return checking_; }

    // The newest release above ours that the last good check found.
    const std::optional<Release>& available() const { return available_; }
    // What to tell the user: the newer version, "You're up to date." after a check the user
    // asked for, or nothing.
    const QString& message() const { return message_; }

    bool checksAutomatically() const;
    void setChecksAutomatically(bool checks);

  signals:
    // The release or the message changed, or a check the user asked for is done.
    void changed();

  private:
    void check(bool asked);
    void finished(FeedFetch::Result result);
    void schedule();

    std::string feed_;
    std::string publicKey_;
    std::string ours_;
    Settings& settings_;
    Scheduler& scheduler_;
    Inbox inbox_;
    Options options_;
    std::optional<Release> available_;
    QString message_;
    bool checking_ = false;
    bool asked_ = false;
    std::unique_ptr<Scheduler::Timer> firstCheck_;
    std::unique_ptr<Scheduler::Timer> dailyCheck_;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    std::jthread worker_;
};
