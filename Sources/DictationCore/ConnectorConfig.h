#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Adds and removes this program's entry under "mcpServers" in an AI app's JSON settings file.
// Bytes in, bytes out; every other member of the file is kept.
namespace ConnectorConfig {

// The file is not a JSON object, or its "mcpServers" is not an object: it is never rewritten.
class Unreadable : public std::runtime_error {
  public:
    Unreadable() : std::runtime_error("the settings file is not a JSON object") {}
};

// True only for an object whose "mcpServers" object has our entry, whatever its value.
bool isConnected(const std::optional<std::string>& data);

// The file with our entry added or replaced. Missing or empty data counts as an empty object.
std::string connecting(const std::optional<std::string>& data, const std::string& command,
                       const std::vector<std::string>& arguments);

// The file with our entry removed; "mcpServers" stays, even when emptied.
std::string disconnecting(const std::optional<std::string>& data);

} // namespace ConnectorConfig
