#pragma once

#include <optional>
#include <string>

// Which addresses the program may fetch from at all: https with certificate checks, or plain
// http to this computer (a local mirror or a test server). The model files and the update feed
// both go through it, and so does every redirect on the way.
namespace WebAddress {

// Why `address` may not be fetched ("not an absolute address", "plain http to another
// computer"), or nothing when it may.
std::optional<std::string> problem(const std::string& address);

// Whether `address` names this computer: localhost, or a loopback address written out.
bool isOnThisComputer(const std::string& address);

} // namespace WebAddress
