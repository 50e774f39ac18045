#pragma once

#include "platform/Paths.h"

#include <optional>
#include <string>
#include <string_view>

// Where the model files are fetched from, and which addresses may be fetched at all: https with
// certificate checks, or plain http to this computer (a local mirror or a test server).
namespace ModelAddress {

// The public model host the files are published on.
inline constexpr std::string_view publicHost = "https://huggingface.co";

// The installed tree's "ModelsBaseURL", else the public host.
std::string base(const Paths& paths);

// Why `address` may not be fetched ("not an absolute address", "plain http to another
// computer"), or nothing when it may.
std::optional<std::string> problem(const std::string& address);

} // namespace ModelAddress
