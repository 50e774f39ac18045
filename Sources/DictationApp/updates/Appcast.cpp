#include "updates/Appcast.h"

#include <QUrl>
#include <QXmlStreamReader>
#include <algorithm>
#include <charconv>

namespace {

// Qualified names: the prefix is what every feed uses, and reading it as written spares a
// document that forgot to declare it.
constexpr QLatin1StringView versionName("sparkle:version");
constexpr QLatin1StringView shortVersionName("sparkle:shortVersionString");
constexpr QLatin1StringView channelName("sparkle:channel");

// What the window and the tray show stays short, whatever the feed holds.
constexpr qsizetype longestVersion = 32;
constexpr qsizetype longestLink = 2000;

bool isUsable(const QString& version) {
    return version.size() <= longestVersion && Appcast::numbers(version.toStdString()).has_value();
}

// Only a page a browser should open, over https: no file:, javascript:, plain http or relative
// links from a feed.
std::string pageLink(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.size() > longestLink) {
        return {};
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.scheme() != QLatin1String("https")) {
        return {};
    }
    return url.toString(QUrl::FullyEncoded).toStdString();
}

struct Item {
    QString version;
    QString shortVersion;
    QString link;
    bool inChannel = false;

    std::optional<Appcast::Release> release(const QString& channelLink) const {
        if (inChannel) {
            return std::nullopt;
        }
        // The version people read is the one compared; the build number when there is none.
        QString chosen;
        if (isUsable(shortVersion.trimmed())) {
            chosen = shortVersion.trimmed();
        } else if (isUsable(version.trimmed())) {
            chosen = version.trimmed();
        } else {
            return std::nullopt;
        }
        std::string page = pageLink(link);
        if (page.empty()) {
            page = pageLink(channelLink);
        }
        return Appcast::Release{chosen.toStdString(), page};
    }
};

void readItem(QXmlStreamReader& reader, Item& item) {
    while (reader.readNextStartElement()) {
        const auto name = reader.qualifiedName();
        if (name == versionName) {
            item.version = reader.readElementText();
        } else if (name == shortVersionName) {
            item.shortVersion = reader.readElementText();
        } else if (name == QLatin1String("link")) {
            item.link = reader.readElementText();
        } else if (name == channelName) {
            item.inChannel = !reader.readElementText().trimmed().isEmpty();
        } else if (name == QLatin1String("enclosure")) {
            const auto attributes = reader.attributes();
            if (item.version.isEmpty()) {
                item.version = attributes.value(versionName).toString();
            }
            if (item.shortVersion.isEmpty()) {
                item.shortVersion = attributes.value(shortVersionName).toString();
            }
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
}

} // namespace

std::variant<std::vector<Appcast::Release>, std::string> Appcast::parse(std::string_view bytes) {
    if (bytes.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        return std::string("the feed is empty");
    }
    QXmlStreamReader reader(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    reader.setNamespaceProcessing(false);
    const auto broken = [&reader] {
        QString error = reader.errorString().toLower();
        if (error.endsWith(QLatin1Char('.'))) {
            error.chop(1);
        }
        return "the feed is not well-formed xml: " + error.toStdString() + " at line " +
               std::to_string(reader.lineNumber());
    };
    if (!reader.readNextStartElement()) {
        return broken();
    }
    if (reader.qualifiedName() != QLatin1String("rss")) {
        return std::string("the feed is not an rss document");
    }
    std::vector<Item> items;
    QString channelLink;
    while (reader.readNextStartElement()) {
        if (reader.qualifiedName() != QLatin1String("channel")) {
            reader.skipCurrentElement();
            continue;
        }
        while (reader.readNextStartElement()) {
            if (reader.qualifiedName() == QLatin1String("item")) {
                readItem(reader, items.emplace_back());
            } else if (reader.qualifiedName() == QLatin1String("link")) {
                channelLink = reader.readElementText();
            } else {
                reader.skipCurrentElement();
            }
        }
    }
    // Reading on to the end finds what is broken after the last item too.
    while (!reader.atEnd()) {
        reader.readNext();
    }
    if (reader.hasError()) {
        return broken();
    }
    std::vector<Release> releases;
    for (const Item& item : items) {
        if (auto release = item.release(channelLink)) {
            releases.push_back(std::move(*release));
        }
    }
    return releases;
}

std::optional<std::vector<std::uint32_t>> Appcast::numbers(std::string_view version) {
    std::vector<std::uint32_t> parts;
    if (version.empty()) {
        return std::nullopt;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = std::min(version.find('.', start), version.size());
        const std::string_view piece = version.substr(start, dot - start);
        std::uint32_t value = 0;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (piece.empty() || error != std::errc() || end != piece.data() + piece.size()) {
            return std::nullopt;
        }
        parts.push_back(value);
        if (dot == version.size()) {
            return parts;
        }
        start = dot + 1;
    }
}

int Appcast::compare(std::string_view a, std::string_view b) {
    const auto left = numbers(a).value_or(std::vector<std::uint32_t>{});
    const auto right = numbers(b).value_or(std::vector<std::uint32_t>{});
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const std::uint32_t x = i < left.size() ? left[i] : 0;
        const std::uint32_t y = i < right.size() ? right[i] : 0;
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

std::optional<Appcast::Release> Appcast::newerThan(const std::vector<Release>& releases,
                                                   std::string_view ours) {
    std::optional<Release> newest;
    for (const Release& release : releases) {
        if (compare(release.version, ours) > 0 &&
            (!newest || compare(release.version, newest->version) > 0)) {
            newest = release;
        }
    }
    return newest;
}
