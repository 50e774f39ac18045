#include "config/Settings.h"

#include "Files.h"
#include "Text.h"
#include "platform/Log.h"

#include <QSettings>
#include <QVariant>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::unique_ptr<QSettings> open(const std::filesystem::path& file) {
    return std::make_unique<QSettings>(QString::fromStdString(file.string()), QSettings::IniFormat);
}

// What tells one version of the file from another: a save replaces the file, so its inode
// changes even when its size and time do not.
struct Version {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    bool operator==(const Version& other) const {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
    static Version of(const std::filesystem::path& file) {
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0) {
            return {};
        }
        return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim};
    }
};

// The file holds a profile name: create it private before QSettings first writes it
// (QSettings keeps the permissions of a file that exists).
void ensurePrivateFile(const std::filesystem::path& file) {
    if (::access(file.c_str(), F_OK) == 0) {
        return;
    }
    try {
        Files::createPrivateFolder(file.parent_path());
        Files::createPrivate(file);
    } catch (const FileError&) {
        // QSettings reports the failure of the write that follows.
    }
}

// Why writing the file through QSettings would lose part of it, or nothing when it would not.
// QSettings keeps sections and key=value lines; comments, other lines and bytes that are not
// UTF-8 would be gone after its next write.
std::optional<std::string> wouldLose(const std::filesystem::path& file) {
    std::optional<std::string> bytes;
    try {
        // A link to a dotfiles folder is the user's choice.
        bytes = Files::readIfPresent(file, 0, Files::Links::follow, 1 << 20);
    } catch (const std::exception& error) {
        return error.what();
    }
    if (!bytes) {
        return std::nullopt;
    }
    if (Text::validUTF8(*bytes) != *bytes) {
        return "it is not UTF-8 text";
    }
    int number = 0;
    for (const auto line : Text::lines(*bytes)) {
        ++number;
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos) {
            continue;
        }
        const std::string_view text =
            line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        const bool section = text.front() == '[' && text.back() == ']';
        const bool setting =
            text.front() != ';' && text.front() != '#' && text.find('=') != std::string_view::npos;
        if (!section && !setting) {
            return "line " + std::to_string(number) + " is not a setting";
        }
    }
    return std::nullopt;
}

std::optional<QString> asString(const QVariant& value) {
    if (!value.isValid() || value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString();
}

// How each type of value is kept: decode gives nothing for a missing or unusable value, encode
// nothing for a value that removes the key.
template <typename Value> struct Codec;

// INI files keep booleans as the words true and false; anything else is not a boolean.
template <> struct Codec<bool> {
    static std::optional<bool> decode(const QVariant& value) {
        if (value.typeId() == QMetaType::Bool) {
            return value.toBool();
        }
        if (const auto text = asString(value)) {
            if (*text == QLatin1String("true")) {
                return true;
            }
            if (*text == QLatin1String("false")) {
                return false;
            }
        }
        return std::nullopt;
    }
    static std::optional<QVariant> encode(bool value) { return QVariant(value); }
};

// A whole number written in decimal; anything else (a fraction, words) is no number.
template <> struct Codec<int> {
    static std::optional<int> decode(const QVariant& value) {
        bool ok = false;
        int number = 0;
        if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong) {
            number = value.toInt(&ok);
        } else if (const auto text = asString(value)) {
            number = text->trimmed().toInt(&ok, 10);
        }
        return ok ? std::optional(number) : std::nullopt;
    }
    static std::optional<QVariant> encode(int value) { return QVariant(value); }
};

template <> struct Codec<std::string> {
    static std::optional<std::string> decode(const QVariant& value) {
        const auto text = asString(value);
        return text ? std::optional(text->toStdString()) : std::nullopt;
    }
    static std::optional<QVariant> encode(const std::string& value) {
        return QVariant(QString::fromStdString(value));
    }
};

template <> struct Codec<Timestamp> {
    static std::optional<Timestamp> decode(const QVariant& value) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (!value.isValid() || !ok) {
            return std::nullopt;
        }
        return Dates::fromReferenceSeconds(seconds);
    }
    static std::optional<QVariant> encode(Timestamp value) {
        return QVariant(Dates::toReferenceSeconds(value));
    }
};

// A choice kept as its raw value.
template <typename Choice, auto fromRaw, auto toRaw> struct RawCodec {
    static std::optional<Choice> decode(const QVariant& value) {
        const auto text = asString(value);
        return text ? fromRaw(text->toStdString()) : std::nullopt;
    }
    static std::optional<QVariant> encode(Choice value) { return QVariant(qstring(toRaw(value))); }
};

template <> struct Codec<HotKey> : RawCodec<HotKey, HotKeys::fromRawValue, HotKeys::rawValue> {};
template <>
struct Codec<Retention> : RawCodec<Retention, Retentions::fromRawValue, Retentions::rawValue> {};
template <>
struct Codec<WritingStyle>
    : RawCodec<WritingStyle, WritingStyles::fromRawValue, WritingStyles::rawValue> {};

constexpr std::array<std::string_view, 3> lookValues{"Light", "Dark", "Match system"};
std::optional<Look> lookFromRaw(std::string_view text) {
    for (std::size_t i = 0; i < lookValues.size(); ++i) {
        if (text == lookValues[i]) {
            return static_cast<Look>(i);
        }
    }
    return std::nullopt;
}
std::string_view lookToRaw(Look look) {
    return lookValues[static_cast<std::size_t>(look)];
}
template <> struct Codec<Look> : RawCodec<Look, lookFromRaw, lookToRaw> {};

// A value that may be absent: stored when there, removed when not.
template <typename Value> struct Codec<std::optional<Value>> {
    static std::optional<std::optional<Value>> decode(const QVariant& value) {
        if (auto decoded = Codec<Value>::decode(value)) {
            return std::optional<Value>(std::move(*decoded));
        }
        return std::nullopt;
    }
    static std::optional<QVariant> encode(const std::optional<Value>& value) {
        return value ? Codec<Value>::encode(*value) : std::nullopt;
    }
};

} // namespace

// The file's values as last parsed, shared by the copies of a SettingsFile on any thread.
struct SettingsFile::Parsed {
    std::mutex mutex;
    std::optional<Version> version;
    std::map<QString, QVariant> values;
};

SettingsFile::SettingsFile(std::filesystem::path file)
    : file_(std::move(file)), parsed_(std::make_shared<Parsed>()) {}

QVariant SettingsFile::value(std::string_view name) const {
    std::lock_guard lock(parsed_->mutex);
    if (const Version now = Version::of(file_); now != parsed_->version) {
        parsed_->values.clear();
        const auto settings = open(file_);
        for (const QString& key : settings->allKeys()) {
            parsed_->values.emplace(key, settings->value(key));
        }
        parsed_->version = now;
    }
    const auto found = parsed_->values.find(qstring(name));
    return found == parsed_->values.end() ? QVariant() : found->second;
}

template <typename Value> Value SettingsFile::get(const Setting<Value>& key) const {
    return Codec<Value>::decode(value(key.name)).value_or(key.fallback);
}

template <typename Value>
bool SettingsFile::set(const Setting<Value>& key, const Value& value) const {
    const auto encoded = Codec<Value>::encode(value);
    const QVariant stored = this->value(key.name);
    if (encoded ? stored.isValid() && Codec<Value>::decode(stored) == std::optional(value)
                : !stored.isValid()) {
        return false;
    }
    // As the stores do: a file we could not read whole is never written.
    if (const auto why = wouldLose(file_)) {
        log("settings not saved: " + file_.filename().string() + ": " + *why +
            ", and rewriting it would lose that");
        return false;
    }
    if (encoded) {
        ensurePrivateFile(file_);
    }
    auto settings = open(file_);
    if (encoded) {
        settings->setValue(qstring(key.name), *encoded);
    } else {
        settings->remove(qstring(key.name));
    }
    settings->sync();
    return settings->status() == QSettings::NoError;
}

// The types the table uses.
#define PARLWICK_SETTING_TYPE(...)                                                                 \
    template __VA_ARGS__ SettingsFile::get(const Setting<__VA_ARGS__>&) const;                     \
    template bool SettingsFile::set(const Setting<__VA_ARGS__>&, const __VA_ARGS__&) const;
PARLWICK_SETTING_TYPE(bool)
PARLWICK_SETTING_TYPE(int)
PARLWICK_SETTING_TYPE(Retention)
PARLWICK_SETTING_TYPE(Look)
PARLWICK_SETTING_TYPE(WritingStyle)
PARLWICK_SETTING_TYPE(std::optional<HotKey>)
PARLWICK_SETTING_TYPE(std::optional<Timestamp>)
PARLWICK_SETTING_TYPE(std::optional<std::string>)
#undef PARLWICK_SETTING_TYPE

bool SettingsFile::contains(std::string_view name) const {
    return value(name).isValid();
}

bool SettingsFile::hasChosenStyle() const {
    return std::any_of(AppGroups::allCases.begin(), AppGroups::allCases.end(),
                       [this](AppGroup group) { return contains(SettingKeys::style(group).name); });
}

const SpeechModels::Model& SettingsFile::speechModel(std::string_view language) const {
    const auto stored = get(SettingKeys::speechModel);
    const SpeechModels::Model* model = stored ? SpeechModels::find(*stored) : nullptr;
    return model && model->fits(language) ? *model : SpeechModels::standard();
}

std::string SettingsFile::profileName() const {
    if (auto stored = get(SettingKeys::profileName)) {
        return *stored;
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

RecordKey::RecordKey(HotKey commandLine, Settings* settings, QObject* parent)
    : QObject(parent), commandLine_(commandLine), settings_(settings) {
    if (settings_) {
        connect(settings_, &Settings::changed, this, [this](const QString& name) {
            if (name.toStdString() == SettingKeys::key.name) {
                emit changed();
            }
        });
    }
}

void RecordKey::choose(HotKey key) {
    if (settings_ && settings_->get(SettingKeys::key) != std::optional(key)) {
        settings_->set(SettingKeys::key, std::optional<HotKey>(key));
    }
}
