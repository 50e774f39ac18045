#include "ConnectorConfig.h"

#include <nlohmann/json.hpp>

namespace ConnectorConfig {

namespace {

// Our key in every app's "mcpServers".
constexpr const char* serverName = "parlwick";

using Json = nlohmann::json; // std::map underneath, so keys come out sorted

Json root(const std::optional<std::string>& data) {
    if (!data || data->empty()) {
        return Json::object();
    }
    Json parsed = Json::parse(*data, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        throw Unreadable();
    }
    return parsed;
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
        servers = *found;
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
    const Json parsed = Json::parse(*data, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return false;
    }
    const auto servers = parsed.find("mcpServers");
    return servers != parsed.end() && servers->is_object() && servers->contains(serverName);
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
