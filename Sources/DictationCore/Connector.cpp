#include "Connector.h"

#include "Text.h"
#include "TextSearch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

namespace {

using Json = nlohmann::json; // sorted keys, which replies must have

constexpr std::array<std::string_view, 3> protocolVersions{"2025-06-18", "2025-03-26",
                                                           "2024-11-05"};

Json tool(std::string_view name, std::string_view description) {
    return {
        {"name", name},
        {"description", description},
        {"annotations", {{"readOnlyHint", true}}},
        {"inputSchema",
         {{"type", "object"},
          {"properties",
           {{"query", {{"type", "string"}}},
            {"limit", {{"type", "integer"}, {"minimum", 1}, {"maximum", Connector::maxLimit}}}}}}}};
}

const Json& tools() {
    static const Json list = Json::array(
        {tool("search_dictations",
              "Search the user's past dictations, newest first. Leave query empty for the latest."),
         tool("search_notes", "Search the user's scratchpad notes. Leave query empty for all.")});
    return list;
}

std::string encode(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The id goes in as the JSON text the client wrote, so it is placed between the other members
// (in sorted order) rather than held as a value that would round it.
std::string result(const std::string& id, const Json& body) {
    return R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":)" + encode(body) + "}";
}

std::string error(const std::string& id, int code, std::string_view message) {
    return R"({"error":)" + encode({{"code", code}, {"message", message}}) + R"(,"id":)" + id +
           R"(,"jsonrpc":"2.0"})";
}

Json textContent(const std::string& text) {
    return {{"content", Json::array({{{"type", "text"}, {"text", text}}})}};
}

std::string_view trimmedBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Integers, and numbers with an integral value; anything else gives the default.
int limitFrom(const std::optional<Json>& found) {
    long long limit = Connector::defaultLimit;
    if (found) {
        if (found->is_number_unsigned()) {
            limit = Connector::maxLimit;
            if (found->get<unsigned long long>() <
                static_cast<unsigned long long>(Connector::maxLimit)) {
                limit = static_cast<long long>(found->get<unsigned long long>());
            }
        } else if (found->is_number_integer()) {
            limit = found->get<long long>();
        } else if (found->is_number_float()) {
            const double value = found->get<double>();
            if (std::isfinite(value) && value == std::trunc(value)) {
                limit = static_cast<long long>(std::clamp(value, -1.0, 1000.0));
            }
        }
    }
    return static_cast<int>(std::clamp<long long>(limit, 1, Connector::maxLimit));
}

// The members of a request line that a reply can use. Scalars are kept as values; a container
// where a scalar belongs is kept as an empty one of its kind, which is all the checks ask.
struct Request {
    bool object = false;
    std::optional<Json> method, id;
    std::string idText; // the id as written, so numbers come back digit for digit
    std::optional<Json> protocolVersion, tool, query, limit;

    void clearParams() {
        protocolVersion.reset();
        tool.reset();
        clearArguments();
    }
    void clearArguments() {
        query.reset();
        limit.reset();
    }
};

// Reads a request line in one pass through nlohmann's SAX interface instead of into a document
// (a parse callback could bound the depth too, but would still build the document and lose how
// numbers were written). The parser keeps no recursion of its own, and with no document nothing
// is copied, printed or destroyed recursively: a line nested a million deep costs no stack, and
// one nested past `maxDepth` is refused at that level. The SAX calls carry the text of every
// number whose value would lose it (beyond 64 bits, or with a fraction or exponent); an integer
// comes as a value, and a negative one with the value 0 can only have been written "-0".
// Members not listed in `Request` are skipped as they are read; the last of repeated members
// counts, as with a document.
class RequestReader {
  public:
    explicit RequestReader(Request& request) : request_(request) {}

    bool null() { return scalar(nullptr, "null"); }
    bool boolean(bool value) { return scalar(value, value ? "true" : "false"); }
    bool number_integer(Json::number_integer_t value) {
        return scalar(value, value == 0 ? "-0" : std::to_string(value));
    }
    bool number_unsigned(Json::number_unsigned_t value) {
        return scalar(value, std::to_string(value));
    }
    bool number_float(Json::number_float_t value, const std::string& text) {
        return scalar(value, text);
    }
    bool string(std::string& value) {
        Json json(std::move(value));
        std::string text = next_ == Slot::id ? encode(json) : std::string();
        return scalar(std::move(json), std::move(text));
    }
    bool binary(Json::binary_t&) { return false; } // JSON text has none
    bool start_object(std::size_t) { return open(false); }
    bool start_array(std::size_t) { return open(true); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(std::string& name) {
        next_ = Slot::skipped;
        switch (open_.back()) {
        case Slot::top:
            next_ = name == "method"   ? Slot::method
                    : name == "id"     ? Slot::id
                    : name == "params" ? Slot::params
                                       : Slot::skipped;
            break;
        case Slot::params:
            next_ = name == "protocolVersion" ? Slot::protocolVersion
                    : name == "name"          ? Slot::tool
                    : name == "arguments"     ? Slot::arguments
                                              : Slot::skipped;
            break;
        case Slot::arguments:
            next_ = name == "query" ? Slot::query : name == "limit" ? Slot::limit : Slot::skipped;
            break;
        default:
            break;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const Json::exception&) { return false; }

  private:
    // What a value is to the request; for an open container, what its members are.
    enum class Slot {
        top,
        skipped,
        method,
        id,
        params,
        protocolVersion,
        tool,
        arguments,
        query,
        limit
    };

    // The slot of the value that starts now.
    Slot take() {
        const Slot slot = open_.empty() ? Slot::top : next_;
        next_ = Slot::skipped;
        return slot;
    }

    std::optional<Json>* field(Slot slot) {
        switch (slot) {
        case Slot::method:
            return &request_.method;
        case Slot::id:
            return &request_.id;
        case Slot::protocolVersion:
            return &request_.protocolVersion;
        case Slot::tool:
            return &request_.tool;
        case Slot::query:
            return &request_.query;
        case Slot::limit:
            return &request_.limit;
        default:
            return nullptr;
        }
    }

    // Anything but an object in "params" or "arguments" counts as an empty one.
    void reached(Slot slot, bool object) {
        if (slot == Slot::top) {
            request_.object = object;
        } else if (slot == Slot::params) {
            request_.clearParams();
        } else if (slot == Slot::arguments) {
            request_.clearArguments();
        }
    }

    bool scalar(Json value, std::string text) {
        const Slot slot = take();
        reached(slot, false);
        if (auto* kept = field(slot)) {
            *kept = std::move(value);
            if (slot == Slot::id) {
                request_.idText = std::move(text);
            }
        }
        return true;
    }

    bool open(bool array) {
        if (open_.size() == static_cast<std::size_t>(Connector::maxDepth)) {
            return false;
        }
        const Slot slot = take();
        reached(slot, !array);
        if (auto* kept = field(slot)) {
            *kept = array ? Json::array() : Json::object();
        }
        const bool read =
            !array && (slot == Slot::top || slot == Slot::params || slot == Slot::arguments);
        open_.push_back(read ? slot : Slot::skipped);
        return true;
    }

    bool close() {
        open_.pop_back();
        next_ = Slot::skipped;
        return true;
    }

    Request& request_;
    std::vector<Slot> open_;
    Slot next_ = Slot::skipped;
};

// "[2025-03-04T09:15:00Z]" + separator + text, built by appending (GCC 12 warns falsely about
// chained string additions here).
std::string line(Timestamp date, std::string_view separator, std::string_view text) {
    std::string out = "[";
    out += Dates::iso8601(date);
    out += ']';
    out += separator;
    out += text;
    return out;
}

template <typename Item, typename Keep, typename Render>
std::string rendered(const std::vector<Item>& items, int limit, Keep keep, Render render,
                     const char* none) {
    std::string text;
    int count = 0;
    for (const auto& item : items) {
        if (count == limit) {
            break;
        }
        if (!keep(item)) {
            continue;
        }
        text += count++ == 0 ? "" : "\n\n";
        text += render(item);
    }
    return count == 0 ? none : text;
}

} // namespace

Connector::Connector(HistoryLoader history, NotesLoader notes)
    : history_(std::move(history)), notes_(std::move(notes)) {}

std::string Connector::parseError() {
    return error("null", -32700, "Parse error");
}

std::optional<std::string> Connector::reply(std::string_view request) const {
    Request message;
    try {
        RequestReader reader(message);
        if (!Json::sax_parse(request, &reader)) {
            return parseError();
        }
    } catch (const std::exception&) {
        return parseError();
    }
    if (!message.object || !message.method || !message.method->is_string()) {
        return parseError();
    }
    if (!message.id) {
        return std::nullopt; // a notification
    }
    if (!message.id->is_string() && !message.id->is_number() && !message.id->is_null()) {
        return parseError();
    }
    const std::string& id = message.idText;
    const auto& method = message.method->get_ref<const std::string&>();

    if (method == "initialize") {
        std::string version(protocolVersions.front());
        if (const auto& asked = message.protocolVersion;
            asked && asked->is_string() &&
            std::find(protocolVersions.begin(), protocolVersions.end(),
                      asked->get_ref<const std::string&>()) != protocolVersions.end()) {
            version = asked->get<std::string>();
        }
        return result(id, {{"protocolVersion", version},
                           {"capabilities", {{"tools", Json::object()}}},
                           {"serverInfo", {{"name", name}, {"version", "1.0"}}}});
    }
    if (method == "ping") {
        return result(id, Json::object());
    }
    if (method == "tools/list") {
        return result(id, {{"tools", tools()}});
    }
    if (method != "tools/call") {
        return error(id, -32601, "Unknown method");
    }

    const std::string query(trimmedBlanks(message.query && message.query->is_string()
                                              ? message.query->get_ref<const std::string&>()
                                              : std::string_view()));
    const TextSearch search(query);
    const Dictation::Matcher matches(query);
    const int limit = limitFrom(message.limit);
    const std::string tool = message.tool && message.tool->is_string()
                                 ? message.tool->get_ref<const std::string&>()
                                 : std::string();

    try {
        if (tool == "search_dictations") {
            const auto dictations = history_();
            return result(id, textContent(rendered(
                                  dictations, limit,
                                  [&](const Dictation& d) {
                                      return d.outcome == Outcome::typed && matches(d);
                                  },
                                  [](const Dictation& d) {
                                      std::string app = " ";
                                      app += Text::printable(d.app);
                                      app += ": ";
                                      return line(d.date, app, d.finalText());
                                  },
                                  "No dictations found.")));
        }
        if (tool == "search_notes") {
            const auto notes = notes_();
            return result(
                id,
                textContent(rendered(
                    notes, limit,
                    [&](const Note& n) { return !n.text.empty() && search.foundIn(n.text); },
                    [](const Note& n) { return line(n.date, "\n", n.text); }, "No notes found.")));
        }
    } catch (...) {
        Json failed = textContent("Couldn't read the saved data.");
        failed["isError"] = true;
        return result(id, failed);
    }
    return error(id, -32602, "Unknown tool");
}
