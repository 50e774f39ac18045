#include "ConnectorConfig.h"

#include <cstddef>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>

namespace ConnectorConfig {

namespace {

// Our key in every app's "mcpServers".
constexpr const char* serverName = "parlwick";

using Json = nlohmann::json; // std::map underneath, so keys come out sorted

// The file's bytes handed to nlohmann one at a time, noting how far it has read. After a number
// the lexer has read exactly one byte past it (or reached the end), so the number's own text
// lies just before that mark.
class Cursor {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    Cursor() = default;
    Cursor(const char* at, const char** read) : at_(at), read_(read) {}
    reference operator*() const { return *at_; }
    Cursor& operator++() {
        *read_ = ++at_;
        return *this;
    }
    Cursor operator++(int) {
        Cursor before = *this;
        ++*this;
        return before;
    }
    bool operator==(const Cursor& other) const { return at_ == other.at_; }

  private:
    const char* at_ = nullptr;
    const char** read_ = nullptr;
};

// Builds the document from nlohmann's events, keeping every number as the other app wrote it:
// nlohmann's own values turn big integers into doubles and lose -0, 1.50 and 1E+2, and this
// program only carries numbers through, so it needs their text, not their value. nlohmann hands
// a float's text (big integers included) to number_float; an integer's text is taken from the
// reading mark and checked against its value. That keeps nlohmann's parser and its checks of
// the input, with no number type or parser of our own. The text sits in a binary node, which a
// text parse never produces, and is written back as it came. Nesting beyond maxDepth is read
// past without being built (the parser does not recurse), so detection still sees the top
// levels while an edit is refused.
class Reader {
  public:
    explicit Reader(std::string_view data) : data_(data), read_(data.data()) {}

    Cursor begin() { return {data_.data(), &read_}; }
    Cursor end() { return {data_.data() + data_.size(), &read_}; }
    Json& document() { return root_; }
    bool tooDeep() const { return tooDeep_; }

    bool null() { return add(nullptr); }
    bool boolean(bool value) { return add(value); }
    bool number_integer(Json::number_integer_t value) { return integer(std::to_string(value)); }
    bool number_unsigned(Json::number_unsigned_t value) { return integer(std::to_string(value)); }
    bool number_float(Json::number_float_t /*value*/, const std::string& text) {
        return add(number(text));
    }
    bool string(std::string& value) { return add(std::move(value)); }
    bool binary(Json::binary_t& /*value*/) { return false; }
    bool key(std::string& name) {
        key_ = std::move(name);
        return true;
    }
    bool start_object(std::size_t /*elements*/) { return open(Json::object()); }
    bool end_object() { return close(); }
    bool start_array(std::size_t /*elements*/) { return open(Json::array()); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                     const Json::exception& /*error*/) {
        return false;
    }

  private:
    static bool isNumberByte(char byte) {
        return (byte >= '0' && byte <= '9') || byte == '-' || byte == '+' || byte == '.' ||
               byte == 'e' || byte == 'E';
    }

    static Json number(std::string_view text) {
        return Json::binary(Json::binary_t::container_type(text.begin(), text.end()));
    }

    // An integer's text as written. It matches the value's own decimal form except for "-0";
    // anything else would mean the reading mark is off, and the file is then left alone.
    bool integer(const std::string& decimal) {
        const char* stop = read_;
        if (stop > data_.data() && !isNumberByte(stop[-1])) {
            --stop;
        }
        const char* start = stop;
        while (start > data_.data() && isNumberByte(start[-1])) {
            --start;
        }
        const std::string_view text(start, static_cast<std::size_t>(stop - start));
        if (text != decimal && !(decimal == "0" && text == "-0")) {
            return false;
        }
        return add(number(text));
    }

    Json* place(Json value) {
        if (depth_ > open_.size()) {
            return nullptr; // inside nesting that is read past
        }
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& parent = *open_.back();
        if (parent.is_object()) {
            Json& member = parent[key_]; // a repeated key keeps its last value
            member = std::move(value);
            return &member;
        }
        // No other element of this array is open, so earlier pointers into it are not needed.
        parent.push_back(std::move(value));
        return &parent.back();
    }

    bool add(Json value) {
        place(std::move(value));
        return true;
    }

    bool open(Json container) {
        if (depth_ >= maxDepth) {
            tooDeep_ = true;
        } else if (Json* placed = place(std::move(container))) {
            open_.push_back(placed);
        }
        ++depth_;
        return true;
    }

    bool close() {
        if (depth_ == open_.size()) {
            open_.pop_back();
        }
        --depth_;
        return true;
    }

    std::string_view data_;
    const char* read_;
    Json root_;
    std::vector<Json*> open_;
    std::size_t depth_ = 0;
    bool tooDeep_ = false;
    std::string key_;
};

// The file's top-level object, or nothing when it is not one.
std::optional<Json> parse(std::string_view data, bool* tooDeep = nullptr) {
    Reader reader(data);
    if (!Json::sax_parse(reader.begin(), reader.end(), &reader) || !reader.document().is_object()) {
        return std::nullopt;
    }
    if (tooDeep != nullptr) {
        *tooDeep = reader.tooDeep();
    }
    return std::move(reader.document());
}

Json root(const std::optional<std::string>& data) {
    if (!data || data->empty()) {
        return Json::object();
    }
    bool tooDeep = false;
    auto parsed = parse(*data, &tooDeep);
    if (!parsed || tooDeep) {
        throw Unreadable();
    }
    return std::move(*parsed);
}

// Two-space indentation and " : " between key and value, the layout these files are kept in.
void write(const Json& value, std::string& out, int depth) {
    const std::string indent(static_cast<std::size_t>(depth + 1) * 2, ' ');
    const std::string closing(static_cast<std::size_t>(depth) * 2, ' ');
    if (value.is_object() && !value.empty()) {
        out += "{\n";
        bool first = true;
        for (const auto& [key, member] : value.items()) {
            out += first ? "" : ",\n";
            first = false;
            out += indent + Json(key).dump(-1, ' ', false, Json::error_handler_t::replace) + " : ";
            write(member, out, depth + 1);
        }
        out += "\n" + closing + "}";
    } else if (value.is_array() && !value.empty()) {
        out += "[\n";
        bool first = true;
        for (const auto& element : value) {
            out += first ? "" : ",\n";
            first = false;
            out += indent;
            write(element, out, depth + 1);
        }
        out += "\n" + closing + "]";
    } else if (value.is_binary()) {
        out.append(value.get_binary().begin(), value.get_binary().end()); // a number as written
    } else {
        out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

template <typename Change>
std::string changing(const std::optional<std::string>& data, Change change) {
    Json document = root(data);
    Json servers = Json::object();
    if (const auto found = document.find("mcpServers"); found != document.end()) {
        if (!found->is_object()) {
            throw Unreadable();
        }
        servers = std::move(*found);
    }
    change(servers);
    document["mcpServers"] = std::move(servers);
    std::string out;
    write(document, out, 0);
    return out;
}

} // namespace

bool isConnected(const std::optional<std::string>& data) {
    if (!data) {
        return false;
    }
    const auto parsed = parse(*data);
    if (!parsed) {
        return false;
    }
    const auto servers = parsed->find("mcpServers");
    return servers != parsed->end() && servers->is_object() && servers->contains(serverName);
}

std::string connecting(const std::optional<std::string>& data, const std::string& command,
                       const std::vector<std::string>& arguments) {
    return changing(data, [&](Json& servers) {
        servers[serverName] = Json{{"command", command}, {"args", arguments}};
    });
}

std::string disconnecting(const std::optional<std::string>& data) {
    return changing(data, [](Json& servers) { servers.erase(serverName); });
}

} // namespace ConnectorConfig
