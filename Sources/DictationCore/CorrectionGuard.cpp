#include "CorrectionGuard.h"

#include "CleanupGuard.h"
#include "SelfCorrection.h"

#include <algorithm>

namespace CorrectionGuard {

namespace {

using ChoiceLists = std::vector<std::vector<TokenRange>>;

bool overlaps(const TokenRange& a, const TokenRange& b) {
    return a.first < b.end && b.first < a.end;
}

// A token as the cleanup guard reads it, worked out once for all combinations.
struct TokenWords {
    std::vector<std::string> words;
    bool isLike = false;        // exactly "like," in any case: an interjection after a comma
    bool endsWithComma = false; // the comma such an interjection takes with it
};

// Depth first over the choice lists: each list is first skipped, then each of its ranges that
// does not overlap one already taken is tried in turn.
class Search {
  public:
    Search(const std::vector<Token>& tokens, const ChoiceLists& lists, std::string_view candidate)
        : lists_(lists), candidate_(candidate) {
        tokens_.reserve(tokens.size());
        for (const Token& token : tokens) {
            const std::string text = token.lead + token.word + token.trail;
            tokens_.push_back({CleanupGuard::words(text),
                               token.lead.empty() && token.trail == "," && token.folded() == "like",
                               text.ends_with(',')});
        }
    }

    bool run() { return visit(0); }

  private:
    bool visit(std::size_t list) {
        if (counted_ >= maxCombinations) {
            return false;
        }
        if (list == lists_.size()) {
            ++counted_;
            return !chosen_.empty() && candidate_.isFaithfulTo(remainingWords());
        }
        if (visit(list + 1)) {
            return true;
        }
        for (const TokenRange& range : lists_[list]) {
            if (counted_ >= maxCombinations) {
                return false;
            }
            const bool free = std::none_of(chosen_.begin(), chosen_.end(),
                                           [&](const TokenRange& c) { return overlaps(c, range); });
            if (!free) {
                continue;
            }
            chosen_.push_back(range);
            const bool found = visit(list + 1);
            chosen_.pop_back();
            if (found) {
                return true;
            }
        }
        return false;
    }

    // The guard's words of the tokens outside every chosen range, as if they were joined: an
    // interjected ", like," that the removal brings together goes too.
    const std::vector<std::string_view>& remainingWords() {
        kept_.clear();
        for (std::size_t k = 0; k < tokens_.size(); ++k) {
            const bool dropped = std::any_of(chosen_.begin(), chosen_.end(), [&](const auto& c) {
                return k >= c.first && k < c.end;
            });
            if (!dropped) {
                kept_.push_back(k);
            }
        }
        words_.clear();
        bool commaFree = false;
        for (std::size_t n = 0; n < kept_.size(); ++n) {
            const TokenWords& token = tokens_[kept_[n]];
            if (token.isLike && commaFree && n + 1 < kept_.size()) {
                commaFree = false;
                continue;
            }
            words_.insert(words_.end(), token.words.begin(), token.words.end());
            commaFree = token.endsWithComma;
        }
        return words_;
    }

    std::vector<TokenWords> tokens_;
    const ChoiceLists& lists_;
    CleanupGuard::Candidate candidate_;
    std::vector<TokenRange> chosen_;
    std::vector<std::size_t> kept_;
    std::vector<std::string_view> words_;
    int counted_ = 0;
};

} // namespace

ChoiceLists correctionChoices(const std::vector<Token>& tokens) {
    ChoiceLists lists;
    std::size_t i = 0;
    while (i < tokens.size()) {
        const auto match = CueMatch::find(tokens, i);
        if (!match || match->strength == Strength::weak) {
            ++i;
            continue;
        }
        const auto region = match->takenBackRegion(tokens);
        if (!region) {
            ++i;
            continue;
        }
        if (match->strength == Strength::scratch) {
            lists.push_back({TokenRange{region->first, match->end}});
        } else if (const std::size_t length = match->repair(tokens).size(); length > 0) {
            std::size_t reach = 1;
            if (length >= 6) {
                reach = std::min<std::size_t>(region->size(), 8);
            } else if (length >= 2) {
                reach = std::min(region->size(), length + 2);
            }
            std::vector<TokenRange> ranges;
            for (std::size_t back = 1; back <= reach && back <= match->start; ++back) {
                ranges.push_back(TokenRange{match->start - back, match->end});
            }
            lists.push_back(std::move(ranges));
        }
        i = match->end;
    }
    return lists;
}

bool isFaithfulCorrection(std::string_view candidate, std::string_view raw) {
    const auto tokens = Token::split(raw);
    const auto lists = correctionChoices(tokens);
    if (lists.empty() || lists.size() > maxChoiceLists) {
        return false;
    }
    return Search(tokens, lists, candidate).run();
}

Choice choose(const std::optional<std::string>& candidate, std::string_view raw) {
    std::string resolved = SelfCorrection::resolve(raw);
    if (!candidate) {
        return {std::move(resolved), false};
    }
    if (resolved == raw) {
        if (isFaithfulCorrection(*candidate, raw) || CleanupGuard::isFaithful(*candidate, raw)) {
            return {*candidate, true};
        }
        return {std::move(resolved), false};
    }
    if (CleanupGuard::isFaithful(*candidate, resolved)) {
        return {*candidate, true};
    }
    return {std::move(resolved), false};
}

} // namespace CorrectionGuard
