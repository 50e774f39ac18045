#include "HistoryFile.h"

#include "Files.h"
#include "JSONFile.h"
#include "Uuid.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <simdjson.h>
#include <sys/file.h>

namespace {

std::optional<std::string> string(simdjson::dom::element value) {
    std::string_view text;
    if (value.get_string().get(text)) {
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<double> number(simdjson::dom::element value) {
    double result = 0;
    if (value.get_double().get(result) || !std::isfinite(result)) {
        return std::nullopt;
    }
    return result;
}

// A JSON integer; a number written with a fraction of zero ("812.0") counts too.
std::optional<std::int64_t> integer(simdjson::dom::element value) {
    std::int64_t result = 0;
    if (!value.get_int64().get(result)) {
        return result;
    }
    double real = 0;
    if (value.type() == simdjson::dom::element_type::DOUBLE && !value.get_double().get(real) &&
        std::trunc(real) == real && std::abs(real) < 9.2e18) {
        return static_cast<std::int64_t>(real);
    }
    return std::nullopt;
}

// Parsers for the lines of one read: the usual one, and one made when a line nests deeper
// than it allows. A field the program does not read may nest as deep as another program or a
// later version likes, and its record must not be lost to a rewrite for that.
struct Parsers {
    simdjson::dom::parser usual;
    std::optional<simdjson::dom::parser> deep;

    simdjson::error_code parse(const char* data, std::size_t length, simdjson::dom::object& out) {
        const auto error = usual.parse(data, length, false).get(out);
        if (error != simdjson::DEPTH_ERROR) {
            return error;
        }
        // No line nests deeper than it has characters.
        if (!deep || deep->max_depth() < length) {
            deep.emplace();
            if (const auto failed = deep->allocate(length, length)) {
                return failed;
            }
        }
        return deep->parse(data, length, false).get(out);
    }
};

// Decodes one line that is followed by at least SIMDJSON_PADDING readable bytes.
std::optional<Dictation> decodePadded(Parsers& parsers, const char* data, std::size_t length) {
    simdjson::dom::object object;
    if (parsers.parse(data, length, object)) {
        return std::nullopt;
    }
    enum : unsigned {
        id = 1,
        date = 2,
        seconds = 4,
        app = 8,
        outcome = 16,
        text = 32,
        heard = 64,
        totalMs = 128,
        required = 255
    };
    unsigned seen = 0;
    Dictation record;
    for (auto [key, value] : object) {
        if (key == "id") {
            // Checked where it lies, so only the canonical copy is made.
            std::string_view uuid;
            if (value.get_string().get(uuid) || !Uuid::isValid(uuid)) {
                return std::nullopt;
            }
            record.id = Uuid::canonical(uuid);
            seen |= id;
        } else if (key == "date") {
            auto reference = number(value);
            if (!reference) {
                return std::nullopt;
            }
            record.date = Dates::fromReferenceSeconds(*reference);
            seen |= date;
        } else if (key == "seconds") {
            auto length = number(value);
            if (!length) {
                return std::nullopt;
            }
            record.seconds = *length;
            seen |= seconds;
        } else if (key == "app" || key == "text" || key == "heard") {
            auto content = string(value);
            if (!content) {
                return std::nullopt;
            }
            if (key == "app") {
                record.app = std::move(*content);
                seen |= app;
            } else if (key == "text") {
                record.text = std::move(*content);
                seen |= text;
            } else {
                record.heard = std::move(*content);
                seen |= heard;
            }
        } else if (key == "outcome") {
            std::string_view raw;
            if (value.get_string().get(raw)) {
                return std::nullopt;
            }
            auto known = Outcomes::fromRawValue(raw);
            if (!known) {
                return std::nullopt;
            }
            record.outcome = *known;
            seen |= outcome;
        } else if (key == "corrected" || key == "problem") {
            // Absent and null both mean none; any other type is a broken record.
            std::optional<std::string> content;
            if (!value.is_null()) {
                content = string(value);
                if (!content) {
                    return std::nullopt;
                }
            }
            (key == "corrected" ? record.corrected : record.problem) = std::move(content);
        } else if (key == "totalMs") {
            auto milliseconds = integer(value);
            if (!milliseconds) {
                return std::nullopt;
            }
            record.totalMs = *milliseconds;
            seen |= totalMs;
        }
    }
    if (seen != required) {
        return std::nullopt;
    }
    return record;
}

// How much of the file one read takes.
constexpr std::size_t readPiece = 1 << 20;

} // namespace

std::vector<Dictation> HistoryFile::load() const {
    std::vector<Dictation> records;
    auto reader = Files::Reader::openIfPresent(url_);
    if (!reader) {
        return records;
    }
    records.reserve(reader->sizeWhenOpened() / 256);
    // A piece at a time: the whole text beside the records would cost a long history's start-up
    // a page fault for every 4 kB of it. Each line is parsed where it lies; what follows it (the
    // next lines, then the padding) is readable for the parser.
    std::size_t room = readPiece;
    std::string buffer(room + simdjson::SIMDJSON_PADDING, ' ');
    std::size_t filled = 0; // bytes at the front not parsed yet
    Parsers parsers;
    for (bool atEnd = false; !atEnd;) {
        if (filled == room) {
            // A line longer than the buffer: room for it and more.
            room *= 2;
            buffer.resize(room + simdjson::SIMDJSON_PADDING, ' ');
        }
        const std::size_t count = reader->read(buffer.data() + filled, room - filled);
        atEnd = count == 0;
        filled += count;
        const char* data = buffer.data();
        std::size_t start = 0;
        while (start < filled) {
            const void* found = std::memchr(data + start, '\n', filled - start);
            if (!found && !atEnd) {
                break; // the rest of this line comes with the next piece
            }
            const std::size_t end =
                found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : filled;
            if (end > start) {
                if (auto record = decodePadded(parsers, data + start, end - start)) {
                    records.push_back(std::move(*record));
                }
            }
            start = end + 1;
        }
        start = std::min(start, filled);
        std::memmove(buffer.data(), data + start, filled - start);
        filled -= start;
    }
    return records;
}

std::optional<Dictation> HistoryFile::decode(std::string_view line) {
    simdjson::padded_string padded(line);
    Parsers parsers;
    return decodePadded(parsers, padded.data(), padded.size());
}

std::string HistoryFile::line(const Dictation& record) {
    std::string text;
    try {
        text = nlohmann::ordered_json(record).dump(-1, ' ', false,
                                                   nlohmann::json::error_handler_t::replace);
    } catch (const nlohmann::json::exception& error) {
        throw FileError(std::string("couldn't encode a history record: ") + error.what());
    }
    text += '\n';
    return text;
}

namespace {

// Held while it lives: appends and rewrites of one history take turns across processes.
class HistoryLock {
  public:
    explicit HistoryLock(const std::filesystem::path& history) {
        std::filesystem::path name = history;
        name += ".lock";
        fd_ = Files::createPrivate(name);
        if (Files::retrying([&] { return ::flock(fd_.get(), LOCK_EX); }) != 0) {
            throw FileError("couldn't lock " + history.filename().string() + ": " +
                            std::strerror(errno));
        }
    }

  private:
    Files::Descriptor fd_; // closing it releases the lock
};

} // namespace

void HistoryFile::append(const Dictation& record) const {
    const std::string encoded = line(record);
    // A first record may also be the first file in a new support folder.
    if (url_.has_parent_path()) {
        Files::createFolders(url_.parent_path());
    }
    const HistoryLock lock(url_);
    // One write of whole lines, after a line feed of its own when the last line was cut short.
    Files::appendLine(url_, encoded);
}

HistoryFile::Rewrite HistoryFile::rewrite(
    const std::function<std::vector<Dictation>(std::vector<Dictation>)>& change) const {
    if (url_.has_parent_path()) {
        Files::createFolders(url_.parent_path());
    }
    const HistoryLock lock(url_);
    Rewrite result;
    result.before = load();
    result.after = change(result.before);
    save(result.after);
    return result;
}

void HistoryFile::save(std::span<const Dictation> records) const {
    std::string bytes;
    for (const auto& record : records) {
        bytes += line(record);
    }
    Files::replaceAtomically(url_, bytes);
}
