#pragma once

#include <string>
#include <string_view>

// Identifiers in files are random (version 4) UUIDs in upper-case 36-character text.
namespace Uuid {

std::string generate();

// 8-4-4-4-12 hexadecimal digits, either case.
bool isValid(std::string_view text);

// The upper-case form of a valid UUID.
std::string canonical(std::string_view text);

} // namespace Uuid
