#pragma once

#include <string>
#include <string_view>
#include <vector>

// Whether an edit of a dictation kept its words: only punctuation, capitals, fillers, stutters,
// cut-off starts and repeated phrases may differ.
namespace CleanupGuard {

// Spoken hesitations that carry no word of substance.
inline constexpr std::string_view fillers[] = {"um", "umm", "uh", "uhh", "er", "erm", "hmm"};
// Words that are said twice on purpose ("had had", "that that", "no no").
inline constexpr std::string_view meaningfulDoubles[] = {"had", "that", "very", "really", "no"};

// The folded words: runs of letters, digits and apostrophes, without apostrophes at the ends.
std::vector<std::string> words(std::string_view text);

// Without fillers, cut-off starts ("w what") and immediate repeats of up to four words.
std::vector<std::string> collapse(std::vector<std::string> words);

// The candidate has a word and says what the reference says, once both are collapsed.
bool isFaithful(std::string_view candidate, std::string_view reference);

// The same test against a reference already collapsed (the guard's search compares one
// candidate with many references).
class Candidate {
  public:
    explicit Candidate(std::string_view text);
    bool isFaithful(std::string_view reference) const;
    // The same for a reference already cut into `words`, any interjected "like" taken out.
    bool isFaithfulTo(const std::vector<std::string_view>& referenceWords) const;

  private:
    bool hasWords_ = false;
    std::vector<std::string> collapsed_;
};

} // namespace CleanupGuard
