#pragma once

#include "platform/Paths.h"
#include "platform/WebAddress.h"

#include <optional>
#include <string>
#include <string_view>

// Where the model files are fetched from, and which addresses may be fetched at all (the rule
// every fetch of the program follows).
namespace ModelAddress {

// The public model host the files are published on.
inline constexpr std::string_view publicHost = "https://huggingface.co";

// The installed tree's "ModelsBaseURL", else the public host.
std::string base(const Paths& paths);

// Why `address` may not be fetched, or nothing when it may.
inline std::optional<std::string> problem(const std::string& address) {
    return WebAddress::problem(address);
}

} // namespace ModelAddress
