#include "housekeeping/CrashReports.h"

#include "Files.h"
#include "platform/Log.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrlQuery>
#include <chrono>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Dates go through the settings file as seconds in a double, which keeps milliseconds but not
// nanoseconds: compared at whole milliseconds, an offered report stays offered.
std::chrono::milliseconds millisecondsOf(Timestamp date) {
    return std::chrono::round<std::chrono::milliseconds>(date.time_since_epoch());
}

std::optional<Timestamp> modified(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    const auto since =
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
    return Timestamp(std::chrono::duration_cast<Timestamp::duration>(since));
}

QString accountName() {
    if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_name) {
        return QString::fromLocal8Bit(account->pw_name);
    }
    return {};
}

const QString pagePrompt = QStringLiteral("Paste the copied report below this line.\n\n");

} // namespace

CrashReports::Desktop CrashReports::Desktop::real() {
    return {
        [](const QString& message, const QString& informative) {
            QMessageBox alert;
            alert.setIcon(QMessageBox::Warning);
            alert.setText(message);
            alert.setInformativeText(informative);
            QPushButton* share = alert.addButton(QStringLiteral("Copy and Open Report Page"),
                                                 QMessageBox::AcceptRole);
            alert.addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
            alert.setDefaultButton(share);
            alert.raise();
            alert.activateWindow();
            alert.exec();
            return alert.clickedButton() == share;
        },
        [](const QString& text) {
            QClipboard* clipboard = QGuiApplication::clipboard();
            clipboard->clear();
            clipboard->setText(text);
        },
        [](const QUrl& page) { QDesktopServices::openUrl(page); },
    };
}

CrashReports::CrashReports(Paths paths, Settings& settings,
                           std::optional<std::string> supportAddress, Desktop desktop)
    : paths_(std::move(paths)), settings_(settings), supportAddress_(std::move(supportAddress)),
      desktop_(std::move(desktop)) {}

std::optional<CrashReports::Report> CrashReports::newestReport(const fs::path& folder,
                                                               std::string_view appName,
                                                               std::optional<Timestamp> since) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        return std::nullopt;
    }
    const std::string prefix = std::string(appName) + "-";
    std::optional<std::pair<Timestamp, fs::path>> newest;
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        std::error_code unreadable;
        // Only a plain file can be a report of ours; a link could lead anywhere.
        if (!name.starts_with(prefix) || entry.path().extension() != ".ips" ||
            !fs::is_regular_file(entry.symlink_status(unreadable))) {
            continue;
        }
        const auto date = modified(entry.path());
        if (!date || (since && millisecondsOf(*date) <= millisecondsOf(*since))) {
            continue;
        }
        if (!newest || *date > newest->first) {
            newest = std::pair{*date, entry.path()};
        }
    }
    if (!newest) {
        return std::nullopt;
    }
    // Our own handler writes small regular files; a link or a FIFO there is nothing of ours.
    try {
        auto text = Files::readIfPresent(newest->second, 0, Files::Links::refuse, 4 << 20);
        if (!text) {
            return std::nullopt;
        }
        return Report{newest->first, std::move(*text)};
    } catch (const std::exception& error) {
        log(std::string("crash reports: couldn't read the newest report: ") + error.what());
        return std::nullopt;
    }
}

QString CrashReports::masked(const std::string& text, const QString& home, const QString& account) {
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (!home.isEmpty()) {
        result.replace(home, QStringLiteral("~"));
    }
    if (!account.isEmpty()) {
        result.replace(account, QStringLiteral("user"));
    }
    // Characters, not UTF-16 units: a cut never splits one.
    const QList<uint> characters = result.toUcs4();
    if (characters.size() > static_cast<qsizetype>(copiedCharacters)) {
        result = QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                                   static_cast<qsizetype>(copiedCharacters));
    }
    return result;
}

std::optional<QUrl> CrashReports::reportPage(const std::optional<std::string>& supportAddress) {
    if (!supportAddress || supportAddress->empty()) {
        return std::nullopt;
    }
    QUrl page(QString::fromStdString(*supportAddress), QUrl::StrictMode);
    if (!page.isValid() || page.scheme().isEmpty()) {
        return std::nullopt;
    }
    QUrlQuery query;
    const bool isMail = page.scheme().compare(QStringLiteral("mailto"), Qt::CaseInsensitive) == 0;
    query.addQueryItem(isMail ? QStringLiteral("subject") : QStringLiteral("title"),
                       QStringLiteral("Crash report"));
    query.addQueryItem(QStringLiteral("body"), pagePrompt);
    page.setQuery(query);
    return page;
}

bool CrashReports::offerIfNeeded() {
    if (!settings_.get(SettingKeys::offersCrashReports)) {
        return false;
    }
    const auto report = newestReport(paths_.crashes(), paths_.appName(),
                                     settings_.get(SettingKeys::lastCrashReport));
    if (!report) {
        return false;
    }
    // Stored before asking, so it is never offered twice whatever the answer.
    settings_.set(SettingKeys::lastCrashReport, std::optional<Timestamp>(report->date));
    const QString app = QString::fromStdString(paths_.appName());
    const bool shares = desktop_.ask(
        app + QStringLiteral(" quit unexpectedly last time"),
        QStringLiteral("Share the crash report to help fix it? It holds technical details, not "
                       "what you dictated. It is copied for you to paste and check before "
                       "anything is sent."));
    if (!shares) {
        return true;
    }
    desktop_.copy(
        masked(report->text, QString::fromStdString(paths_.homes().home.string()), accountName()));
    if (const auto page = reportPage(supportAddress_)) {
        desktop_.open(*page);
    }
    return true;
}
