#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Running text broken into paragraphs where the speaker changes topic.
namespace Paragraphs {

// The sentences of a text, cut after ".", "!" or "?" and white space before a capital, a digit,
// a quote or a bracket, so "e.g. the red one" stays whole.
std::vector<std::string> sentences(std::string_view text);

// The sentences grouped into paragraphs: a topic word ("Also", "By the way", "Next", ...) or a
// full paragraph of `maxSentences` starts a new one.
std::string split(std::string_view text, std::optional<std::size_t> maxSentences);

// `split` on every block of the text, except blocks that hold a list.
std::string apply(std::string_view text, std::optional<std::size_t> maxSentences);

} // namespace Paragraphs
