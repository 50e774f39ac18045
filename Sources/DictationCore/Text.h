#pragma once

#include <string>
#include <string_view>

// Text coming in from outside (a child process, a file, a reply) is made valid UTF-8 once, at
// the edge, so that every later pass can trust it.
namespace Text {

// Invalid byte sequences become U+FFFD.
std::string validUTF8(std::string_view bytes);

// Without Unicode white space and line ends at both ends.
std::string trimmed(std::string_view text);

} // namespace Text
