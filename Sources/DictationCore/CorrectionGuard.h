#pragma once

#include "CorrectionCues.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Chooses between an on-device model's edit of a transcript and the rule-based self-correction.
namespace CorrectionGuard {

// The search over what the cues allow stops after this many cues and combinations.
inline constexpr std::size_t maxChoiceLists = 4;
inline constexpr int maxCombinations = 5000;

struct Choice {
    std::string text;
    bool usedModel = false;

    bool operator==(const Choice&) const = default;
};

// The candidate when it says the same words as the raw transcript, as the rule-based result,
// or as a rewrite that the spoken cues allow; otherwise the rule-based result.
Choice choose(const std::optional<std::string>& candidate, std::string_view raw);

// Whether dropping what some of the raw transcript's cues take back leaves the candidate's
// words. False when the transcript has no such cues or more than `maxChoiceLists`.
bool isFaithfulCorrection(std::string_view candidate, std::string_view raw);

// For each scratch or strong cue with something to take back, the token ranges it may take
// back, most likely first.
std::vector<std::vector<TokenRange>> correctionChoices(const std::vector<Token>& tokens);

} // namespace CorrectionGuard
