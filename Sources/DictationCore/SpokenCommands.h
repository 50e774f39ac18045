#pragma once

#include <string>
#include <string_view>

// Layout spoken aloud: "new paragraph", "new line" and "next line" become breaks, and a phrase
// between two spoken "back tick"s becomes inline code.
namespace SpokenCommands {

// The text with every spoken command carried out. A determiner right before the phrase ("a new
// line of products", "the next line") keeps it as words.
std::string apply(std::string_view text);

} // namespace SpokenCommands
