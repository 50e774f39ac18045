#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Adds and removes this program's entry under "mcpServers" in an AI app's JSON settings file.
// Bytes in, bytes out; every other member of the file is kept.
namespace ConnectorConfig {

// Arrays and objects nested deeper than this (the root object counts as one) make a file
// unreadable. Real settings files stay within a handful of levels.
inline constexpr std::size_t maxDepth = 512;

// The file is not a JSON object, its "mcpServers" is not an object, or it is nested deeper than
// maxDepth: it is never rewritten.
class Unreadable : public std::runtime_error {
  public:
    Unreadable() : std::runtime_error("the settings file couldn't be read") {}
};

// True only for an object whose "mcpServers" object has our entry, whatever its value. Deep
// nesting elsewhere in the file does not hide the entry.
bool isConnected(const std::optional<std::string>& data);

// The file with our entry added or replaced. Missing or empty data counts as an empty object.
std::string connecting(const std::optional<std::string>& data, const std::string& command,
                       const std::vector<std::string>& arguments);

// The file with our entry removed; "mcpServers" stays, even when emptied.
std::string disconnecting(const std::optional<std::string>& data);

} // namespace ConnectorConfig
