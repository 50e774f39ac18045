#include "Connector.h"

#include "TextSearch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

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

std::string encode(const Json& reply) {
    return reply.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json result(const Json& id, Json body) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(body)}};
}

Json error(const Json& id, int code, std::string_view message) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
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
int limitFrom(const Json& arguments) {
    const auto found = arguments.find("limit");
    long long limit = Connector::defaultLimit;
    if (found != arguments.end()) {
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

std::optional<std::string> Connector::reply(std::string_view request) const {
    const Json message = Json::parse(request, nullptr, false);
    if (message.is_discarded() || !message.is_object() || message.empty() ||
        !message.contains("method") || !message["method"].is_string()) {
        return encode(error(nullptr, -32700, "Parse error"));
    }
    const auto id = message.find("id");
    if (id == message.end()) {
        return std::nullopt; // a notification
    }
    const auto paramsFound = message.find("params");
    const Json params =
        paramsFound != message.end() && paramsFound->is_object() ? *paramsFound : Json::object();
    const auto& method = message["method"].get_ref<const std::string&>();

    if (method == "initialize") {
        std::string version(protocolVersions.front());
        if (const auto asked = params.find("protocolVersion");
            asked != params.end() && asked->is_string() &&
            std::find(protocolVersions.begin(), protocolVersions.end(),
                      asked->get<std::string>()) != protocolVersions.end()) {
            version = asked->get<std::string>();
        }
        return encode(result(*id, {{"protocolVersion", version},
                                   {"capabilities", {{"tools", Json::object()}}},
                                   {"serverInfo", {{"name", name}, {"version", "1.0"}}}}));
    }
    if (method == "ping") {
        return encode(result(*id, Json::object()));
    }
    if (method == "tools/list") {
        return encode(result(*id, {{"tools", tools()}}));
    }
    if (method != "tools/call") {
        return encode(error(*id, -32601, "Unknown method"));
    }

    const auto argumentsFound = params.find("arguments");
    const Json arguments = argumentsFound != params.end() && argumentsFound->is_object()
                               ? *argumentsFound
                               : Json::object();
    const auto queryFound = arguments.find("query");
    const std::string query(trimmedBlanks(queryFound != arguments.end() && queryFound->is_string()
                                              ? queryFound->get_ref<const std::string&>()
                                              : std::string_view()));
    const TextSearch search(query);
    const Dictation::Matcher matches(query);
    const int limit = limitFrom(arguments);
    const auto toolName = params.find("name");
    const std::string tool = toolName != params.end() && toolName->is_string()
                                 ? toolName->get<std::string>()
                                 : std::string();

    try {
        if (tool == "search_dictations") {
            const auto dictations = history_();
            return encode(result(
                *id,
                textContent(rendered(
                    dictations, limit,
                    [&](const Dictation& d) { return d.outcome == Outcome::typed && matches(d); },
                    [](const Dictation& d) {
                        return line(d.date, " " + d.app + ": ", d.finalText());
                    },
                    "No dictations found."))));
        }
        if (tool == "search_notes") {
            const auto notes = notes_();
            return encode(result(
                *id,
                textContent(rendered(
                    notes, limit,
                    [&](const Note& n) { return !n.text.empty() && search.foundIn(n.text); },
                    [](const Note& n) { return line(n.date, "\n", n.text); }, "No notes found."))));
        }
    } catch (...) {
        Json failed = textContent("Couldn't read the saved data.");
        failed["isError"] = true;
        return encode(result(*id, std::move(failed)));
    }
    return encode(error(*id, -32602, "Unknown tool"));
}
