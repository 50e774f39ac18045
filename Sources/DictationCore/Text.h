#pragma once

#include <string>
#include <string_view>
#include <vector>

// UTF-8 helpers shared by the passes. Text coming in from outside (a child process, a file, a
// reply) is made valid UTF-8 once, at the edge, so every later pass can trust it.
namespace Text {

// Invalid byte sequences become U+FFFD.
std::string validUTF8(std::string_view bytes);

// A name from another program, safe to put in a log line, a CSV row or a reply: valid UTF-8 in
// which control characters (line ends and escapes included), the line and paragraph separators
// and the bidirectional controls that reorder what is shown (U+202A to U+202E, U+2066 to
// U+2069, the marks) are each replaced by a space, so one name can neither forge a line nor
// disguise another.
std::string printable(std::string_view name);

// Without Unicode white space and line ends at both ends.
std::string trimmed(std::string_view text);
// Without spaces and tabs (Unicode space separators and U+0009) at both ends; line breaks stay.
std::string trimmedSpaces(std::string_view text);
// Without any of `characters` at both ends, and without white space and line ends too when
// `whitespace` is set.
std::string trimmed(std::string_view text, std::u32string_view characters, bool whitespace);
// Where the white space and line ends just before `end` begin: `end` when there are none. Walks
// back only over them, so asking at many places stays linear in the text.
std::size_t trailingWhitespaceStart(std::string_view text, std::size_t end);

// U+000A to U+000D, U+0085, U+2028 and U+2029.
bool isLineBreak(char32_t c);
// Unicode white space, line breaks included.
bool isWhitespace(char32_t c);

// Maximal runs of non-white-space characters.
std::vector<std::string> words(std::string_view text);
// The words joined with single spaces.
std::string collapsedSpaces(std::string_view text);
// The pieces between line breaks, empty ones dropped.
std::vector<std::string_view> lines(std::string_view text);

// Equal under Unicode case folding ("Straße" and "STRASSE" too).
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Full Unicode lower case, the same in every locale.
std::string lowercased(std::string_view text);
// Full default case folding: two texts equalsIgnoringCase calls equal fold to the same bytes.
std::string caseFolded(std::string_view text);

// `value` with exactly `decimals` digits after a point, whatever the process locale says.
std::string fixed(double value, int decimals);

} // namespace Text
