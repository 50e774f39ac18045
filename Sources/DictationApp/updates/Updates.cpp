#include "updates/Updates.h"

#include "platform/Log.h"
#include "updates/Appcast.h"
#include "updates/FeedSignature.h"

namespace {

QLatin1StringView keyName() {
    return QLatin1StringView(SettingKeys::checksForUpdates.name.data(),
                             static_cast<qsizetype>(SettingKeys::checksForUpdates.name.size()));
}

} // namespace

QString Updates::newerText(const QString& version) {
    return QStringLiteral("A newer version, %1, is available.").arg(version);
}

std::unique_ptr<Updates> Updates::forBundle(const Paths& paths, Settings& settings,
                                            Scheduler& scheduler, Deliver deliver,
                                            Options options) {
    const auto& bundle = paths.bundle();
    if (!bundle || !bundle->updateFeed || bundle->updateFeed->empty() || !bundle->updateKey ||
        bundle->updateKey->empty()) {
        return nullptr;
    }
    if (!bundle->version || !Appcast::numbers(*bundle->version)) {
        log("update checks off: bundle.json holds no dotted version to compare with");
        return nullptr;
    }
    return std::make_unique<Updates>(*bundle->updateFeed, *bundle->updateKey, *bundle->version,
                                     settings, scheduler, std::move(deliver), options);
}

Updates::Updates(std::string feed, std::string publicKey, std::string ours, Settings& settings,
                 Scheduler& scheduler, Deliver deliver, Options options, QObject* parent)
    : QObject(parent), feed_(std::move(feed)), publicKey_(std::move(publicKey)),
      ours_(std::move(ours)), settings_(settings), scheduler_(scheduler),
      inbox_(std::move(deliver)), options_(options) {
    connect(&settings_, &Settings::changed, this, [this](const QString& name) {
        if (name == keyName()) {
            schedule();
        }
    });
    schedule();
}

Updates::~Updates() {
    inbox_.close();
    stop_->store(true);
    // libcurl notices the stop within a second.
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool Updates::checksAutomatically() const {
    return settings_.get(SettingKeys::checksForUpdates);
}

void Updates::setChecksAutomatically(bool checks) {
    settings_.set(SettingKeys::checksForUpdates, checks); // followed through the settings' change
}

void Updates::schedule() {
    if (!checksAutomatically()) {
        firstCheck_.reset();
        dailyCheck_.reset();
        return;
    }
    if (dailyCheck_) {
        return;
    }
    firstCheck_ = scheduler_.start(options_.firstCheck, false, [this] { check(false); });
    dailyCheck_ = scheduler_.start(options_.interval, true, [this] { check(false); });
}

void Updates::checkNow() {
    check(true);
}

void Updates::check(bool asked) {
    asked_ = asked_ || asked;
    if (checking_) {
        return; // the check in flight answers this one too
    }
    checking_ = true;
    if (worker_.joinable()) {
        worker_.join(); // the previous fetch has reported, so its thread is ending or gone
    }
    worker_ = std::jthread(
        [this, feed = feed_, limits = options_.limits, stop = stop_, post = inbox_.post()] {
            FeedFetch::Result result = FeedFetch::fetch(feed, limits, *stop);
            post([this, result = std::move(result)]() mutable { finished(std::move(result)); });
        });
}

void Updates::finished(FeedFetch::Result result) {
    checking_ = false;
    const bool asked = std::exchange(asked_, false);
    if (const auto* failure = std::get_if<FeedFetch::Failure>(&result)) {
        log("update check failed: " + failure->reason);
        return;
    }
    // Whoever serves the feed (a mirror, a captured connection) must not choose what we
    // announce: only a feed signed with our key is read at all.
    const std::string& feed = std::get<std::string>(result);
    if (const auto problem = FeedSignature::problem(feed, publicKey_)) {
        log("update check failed: " + *problem);
        return;
    }
    const auto parsed = Appcast::parse(FeedSignature::signedPart(feed));
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        log("update check failed: " + *problem);
        return;
    }
    const auto& releases = std::get<std::vector<Appcast::Release>>(parsed);
    std::optional<Release> available;
    QString message;
    if (const auto newer = Appcast::newerThan(releases, ours_)) {
        available = Release{QString::fromStdString(newer->version),
                            QUrl(QString::fromStdString(newer->link))};
        message = newerText(available->version);
    } else if (asked) {
        message = upToDate;
    } else if (!available_) {
        message = message_; // an automatic check keeps what the user last read
    }
    const bool differs = available != available_ || message != message_;
    available_ = std::move(available);
    message_ = std::move(message);
    if (differs || asked) {
        emit changed();
    }
}
