#include "config/Settings.h"

#include "JSONFile.h"
#include "platform/Paths.h"

#include <QSettings>
#include <QString>
#include <QVariant>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Settings {

namespace {

// Key names, in one place.
constexpr const char* keyKey = "key";
constexpr const char* retentionKey = "retention";
constexpr const char* keepAudioKey = "keepAudio";
constexpr const char* playSoundKey = "playSound";
constexpr const char* offersCrashReportsKey = "offersCrashReports";
constexpr const char* lastCrashReportKey = "lastCrashReport";
constexpr const char* hasCompletedSetupKey = "hasCompletedSetup";
constexpr const char* hidesStepsKey = "hidesSteps";
constexpr const char* lookKey = "look";
constexpr const char* profileNameKey = "profileName";
constexpr std::array<const char*, 3> lookValues{"Light", "Dark", "Match system"};

QString styleKey(AppGroup group) {
    return QString::fromLatin1("style-") +
           QString::fromLatin1(AppGroups::rawValue(group).data(),
                               static_cast<qsizetype>(AppGroups::rawValue(group).size()));
}

// A fresh view of the file each time: QSettings re-reads it when another process changed it.
std::unique_ptr<QSettings> store() {
    return std::make_unique<QSettings>(QString::fromStdString(Paths::settings().string()),
                                       QSettings::IniFormat);
}

// The file holds a profile name: create it private before QSettings first writes it
// (QSettings keeps the permissions of a file that exists).
void ensurePrivateFile() {
    const auto& file = Paths::settings();
    if (::access(file.c_str(), F_OK) == 0) {
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
}

void write(QAnyStringView key, const QVariant& value) {
    ensurePrivateFile();
    auto settings = store();
    settings->setValue(key, value);
    settings->sync();
}

void remove(QAnyStringView key) {
    auto settings = store();
    settings->remove(key);
    settings->sync();
}

std::optional<QString> readString(QAnyStringView key) {
    const QVariant value = store()->value(key);
    if (!value.isValid() || value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString();
}

// INI files keep booleans as the words true and false; anything else is not a boolean.
std::optional<bool> readBool(QAnyStringView key) {
    const QVariant value = store()->value(key);
    if (value.typeId() == QMetaType::Bool) {
        return value.toBool();
    }
    if (value.typeId() == QMetaType::QString) {
        if (value.toString() == QLatin1String("true")) {
            return true;
        }
        if (value.toString() == QLatin1String("false")) {
            return false;
        }
    }
    return std::nullopt;
}

template <typename Raw> auto readChoice(QAnyStringView key, Raw fromRawValue) {
    auto text = readString(key);
    return text ? fromRawValue(text->toStdString()) : decltype(fromRawValue(std::string_view{})){};
}

QString qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

std::optional<HotKey> key() {
    return readChoice(keyKey, HotKeys::fromRawValue);
}
void setKey(HotKey value) {
    write(keyKey, qstring(HotKeys::rawValue(value)));
}

Retention retention() {
    return readChoice(retentionKey, Retentions::fromRawValue).value_or(Retention::month);
}
void setRetention(Retention value) {
    write(retentionKey, qstring(Retentions::rawValue(value)));
}

bool keepAudio() {
    return readBool(keepAudioKey).value_or(false);
}
void setKeepAudio(bool value) {
    write(keepAudioKey, value);
}

bool playSound() {
    return readBool(playSoundKey).value_or(true);
}
void setPlaySound(bool value) {
    write(playSoundKey, value);
}

bool offersCrashReports() {
    return readBool(offersCrashReportsKey).value_or(false);
}
void setOffersCrashReports(bool value) {
    write(offersCrashReportsKey, value);
}

bool hasCompletedSetup() {
    return readBool(hasCompletedSetupKey).value_or(false);
}
void setHasCompletedSetup(bool value) {
    write(hasCompletedSetupKey, value);
}

bool hidesSteps() {
    return readBool(hidesStepsKey).value_or(false);
}
void setHidesSteps(bool value) {
    write(hidesStepsKey, value);
}

std::optional<Timestamp> lastCrashReport() {
    const QVariant value = store()->value(lastCrashReportKey);
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!value.isValid() || !ok) {
        return std::nullopt;
    }
    return Dates::fromReferenceSeconds(seconds);
}

void setLastCrashReport(std::optional<Timestamp> time) {
    if (!time) {
        remove(lastCrashReportKey);
        return;
    }
    write(lastCrashReportKey, Dates::toReferenceSeconds(*time));
}

Look look() {
    const auto text = readString(lookKey);
    for (std::size_t i = 0; text && i < lookValues.size(); ++i) {
        if (*text == QLatin1String(lookValues[i])) {
            return static_cast<Look>(i);
        }
    }
    return Look::light;
}
void setLook(Look value) {
    write(lookKey, QLatin1String(lookValues[static_cast<std::size_t>(value)]));
}

WritingStyle style(AppGroup group) {
    return readChoice(styleKey(group), WritingStyles::fromRawValue)
        .value_or(WritingStyle::polished);
}

void setStyle(WritingStyle value, AppGroup group) {
    write(styleKey(group), qstring(WritingStyles::rawValue(value)));
}

bool hasChosenStyle() {
    auto settings = store();
    for (auto group : AppGroups::allCases) {
        if (settings->contains(styleKey(group))) {
            return true;
        }
    }
    return false;
}

std::string profileName() {
    if (auto stored = readString(profileNameKey)) {
        return stored->toStdString();
    }
    // The account's full name is the first comma-separated field of its GECOS entry.
    if (const passwd* entry = ::getpwuid(::getuid())) {
        std::string gecos = entry->pw_gecos ? entry->pw_gecos : "";
        gecos = gecos.substr(0, gecos.find(','));
        if (!gecos.empty()) {
            return gecos;
        }
        if (entry->pw_name) {
            return entry->pw_name;
        }
    }
    return {};
}
void setProfileName(const std::string& name) {
    write(profileNameKey, QString::fromStdString(name));
}

namespace {

// Desktop entry Exec values quote arguments with double quotes and escape ", `, $ and \.
std::string quotedExec(const std::string& path) {
    std::string text = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            text += '\\';
        }
        text += c;
    }
    return text + "\"";
}

} // namespace

void setOpensAtLogin(bool opens) {
    const auto& entry = Paths::autostart();
    if (!opens) {
        if (::unlink(entry.c_str()) != 0 && errno != ENOENT) {
            throw FileError("couldn't remove " + entry.filename().string() + ": " +
                            std::strerror(errno));
        }
        return;
    }
    const std::string contents = "[Desktop Entry]\n"
                                 "Type=Application\n"
                                 "Name=" +
                                 Paths::appName() +
                                 "\n"
                                 "Exec=" +
                                 quotedExec(Paths::executable().string()) +
                                 "\n"
                                 "Terminal=false\n"
                                 "X-GNOME-Autostart-enabled=true\n";
    Files::replaceAtomically(entry, contents);
}

bool opensAtLogin() {
    return ::access(Paths::autostart().c_str(), F_OK) == 0;
}

} // namespace Settings
