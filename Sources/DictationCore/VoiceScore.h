#pragma once

#include <string>
#include <string_view>
#include <vector>

// Scores a transcript of a read sentence against the sentence, word by word, and names the
// words worth adding to the vocabulary to fix what was misheard.
namespace VoiceScore {

// The comparable words of a text: lower-case runs of letters, digits and apostrophes, with the
// spoken numbers of the sentences as digits, so "three thirty" and "3:30" both give 3, 30 and
// "20%" gives 20, percent.
std::vector<std::string> tokens(std::string_view text);

int wordCount(std::string_view text);

// The word-level edit distance; with nothing expected, the number of words heard.
int errors(std::string_view expected, std::string_view heard);

// Each expected word of 4 or more characters heard nowhere in the transcript, followed by the
// two-word phrase it starts (when a word follows), in order and with repeats.
std::vector<std::string> candidates(std::string_view expected, std::string_view heard);

} // namespace VoiceScore
