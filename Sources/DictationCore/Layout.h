#pragma once

#include "WritingContext.h"

#include <string>
#include <string_view>
#include <vector>

// One cleaned dictation laid out for the app that receives it: spoken commands and lists carried
// out, documents in paragraphs, e-mails as greeting, body and sign-off, line starts capitalised
// and, where the app expects it, sentences closed.
namespace Layout {

// Whitespace-only text comes back unchanged.
std::string format(std::string_view text, WritingContext writing);

// The pieces between blank lines, each trimmed of spaces and tabs; empty pieces dropped.
std::vector<std::string> blocks(std::string_view text);

// Every line capitalised; with `closeSentences`, a line that ends a paragraph and ends in a
// letter or digit gets a period (the last line only with `closeEnd`). List lines never do.
std::string tidy(std::string_view text, bool closeSentences, bool closeEnd);

// The line with its first letter upper-cased, unless the first word already mixes cases
// ("iPhone", "eBay", "macOS").
std::string capitalizeFirstLetter(std::string_view line);

// A line of a written list: "- " or a number, a period and a space at its start.
bool isListLine(std::string_view line);

// Whether the last character is a letter or a digit, so that a period may close it.
bool endsInLetterOrDigit(std::string_view text);

} // namespace Layout
