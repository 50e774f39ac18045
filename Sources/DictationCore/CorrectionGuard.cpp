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

// Depth first over the choice lists: each list is first skipped, then each of its ranges that
// does not overlap one already taken is tried in turn.
class Search {
  public:
    Search(const std::vector<Token>& tokens, const ChoiceLists& lists, std::string_view candidate)
        : tokens_(tokens), lists_(lists), candidate_(candidate) {}

    bool run() { return visit(0); }

  private:
    bool visit(std::size_t list) {
        if (counted_ >= maxCombinations) {
            return false;
        }
        if (list == lists_.size()) {
            ++counted_;
            return !chosen_.empty() && candidate_.isFaithful(remainingText());
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

    std::string remainingText() const {
        std::vector<Token> kept;
        kept.reserve(tokens_.size());
        for (std::size_t k = 0; k < tokens_.size(); ++k) {
            const bool dropped = std::any_of(chosen_.begin(), chosen_.end(), [&](const auto& c) {
                return k >= c.first && k < c.end;
            });
            if (!dropped) {
                kept.push_back(tokens_[k]);
            }
        }
        return Token::join(kept);
    }

    const std::vector<Token>& tokens_;
    const ChoiceLists& lists_;
    CleanupGuard::Candidate candidate_;
    std::vector<TokenRange> chosen_;
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
