#pragma once

#include "Dates.h"
#include "config/Settings.h"
#include "platform/Paths.h"

#include <QString>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Offers, once per crash and only to a user who agreed, to copy the newest crash report (home
// folder and account name masked) and open the page where reports are filed.
class CrashReports {
  public:
    static constexpr std::size_t copiedCharacters = 60'000;

    struct Report {
        Timestamp date; // when the file was last written
        std::string text;
    };

    // What the offer does to the desktop, so tests can watch it.
    struct Desktop {
        // Asks the question; true for "Copy and Open Report Page".
        std::function<bool(const QString& message, const QString& informative)> ask;
        std::function<void(const QString& text)> copy;
        std::function<void(const QUrl& page)> open;
        // A modal alert, the clipboard and the default handler of the address.
        static Desktop real();
    };

    // `supportAddress` is the installed tree's "SupportIssuesURL".
    CrashReports(Paths paths, Settings& settings, std::optional<std::string> supportAddress,
                 Desktop desktop = Desktop::real());

    // Once after start-up: offers the newest report not offered before. True when it asked.
    bool offerIfNeeded();

    // The newest "<app>-*.ips" in `folder` written after `since`.
    static std::optional<Report> newestReport(const std::filesystem::path& folder,
                                              std::string_view appName,
                                              std::optional<Timestamp> since);
    // The home folder as "~", then the account name as "user", cut to `copiedCharacters`.
    static QString masked(const std::string& text, const QString& home, const QString& account);
    // The report page with its query replaced: subject and body for mailto, else title and body.
    static std::optional<QUrl> reportPage(const std::optional<std::string>& supportAddress);

  private:
    Paths paths_;
    Settings& settings_;
    std::optional<std::string> supportAddress_;
    Desktop desktop_;
};
