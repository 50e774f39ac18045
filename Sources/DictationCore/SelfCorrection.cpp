#include "SelfCorrection.h"

#include "Characters.h"
#include "CorrectionCues.h"

#include <algorithm>

namespace SelfCorrection {

namespace {

using Tokens = std::vector<Token>;

bool isContentWord(const Token& token) {
    const std::string folded = token.folded();
    return !folded.empty() && !Lexicon::contains(Lexicon::Set::function, folded) &&
           !Lexicon::contains(Lexicon::Set::hedges, folded);
}

bool isNegative(const Token& token) {
    const std::string folded = token.folded();
    return folded == "not" || folded == "never" || folded == "no" || folded.ends_with("n't");
}

bool startsUppercase(const Token& token) {
    bool upper = false;
    bool first = true;
    Characters::forEachCharacter(token.word, [&](std::size_t, std::size_t, char32_t c) {
        if (first) {
            upper = Characters::isLetter(c) && Characters::isUppercase(c);
            first = false;
        }
    });
    return upper;
}

// What an edit does to the tokens: a run of them goes, and for a value corrected in place one
// token takes the repair's word and the region's last token the repair's trail first.
struct Rewrite {
    TokenRange removed;
    struct Value {
        std::size_t token;
        std::size_t regionLast;
        std::size_t repair;
    };
    std::optional<Value> value;

    // In place: the tail moves down, nothing is copied.
    void apply(Tokens& tokens) const {
        if (value) {
            tokens[value->token].word = tokens[value->repair].word;
            tokens[value->regionLast].trail = tokens[value->repair].trail;
        }
        tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(removed.first),
                     tokens.begin() + static_cast<std::ptrdiff_t>(removed.end));
    }
};

// One cue with what it takes back and what replaces it.
class Edit {
  public:
    Edit(const Tokens& tokens, const CueMatch& match, TokenRange region, TokenRange repair)
        : tokens_(tokens), match_(match), region_(region), repair_(repair) {}

    std::optional<Rewrite> apply() const {
        if (match_.strength == Strength::scratch) {
            return scratch();
        }
        if (repair_.isEmpty()) {
            return std::nullopt;
        }
        // "Monday. Actually, Tuesday.": only a short value can stand in for the sentence before.
        if (match_.strength == Strength::weak && match_.position == Position::sentenceStart) {
            const bool finishes =
                repair_.end == tokens_.size() || tokens_[repair_.end - 1].isSentenceEnd();
            if (repair_.size() > 2 || !finishes) {
                return std::nullopt;
            }
            return typed();
        }
        if (auto result = retrace()) {
            return result;
        }
        if (auto result = typed()) {
            return result;
        }
        return phrase();
    }

  private:
    std::size_t rl() const { return region_.first; }
    std::size_t ru() const { return region_.end; }

    std::optional<Rewrite> scratch() const {
        const auto hasWord = [&](std::size_t first, std::size_t end) {
            return std::any_of(tokens_.begin() + static_cast<std::ptrdiff_t>(first),
                               tokens_.begin() + static_cast<std::ptrdiff_t>(end),
                               [](const Token& token) { return !token.word.empty(); });
        };
        // Taking back everything said leaves nothing to type: keep the text.
        if (!hasWord(0, rl()) && !hasWord(match_.end, tokens_.size())) {
            return std::nullopt;
        }
        return Rewrite{{rl(), match_.end}, std::nullopt};
    }

    // The tokens before `from`, then the repair and everything after it.
    Rewrite replacing(std::size_t from) const {
        return Rewrite{{from, repair_.first}, std::nullopt};
    }

    // "I'll send it Monday, I mean, I'll send it Tuesday.": the repair restarts at a word the
    // region already has.
    std::optional<Rewrite> retrace() const {
        const std::string anchor = tokens_[repair_.first].folded();
        std::size_t j = ru();
        while (j > rl() && tokens_[j - 1].folded() != anchor) {
            --j;
        }
        if (j == rl()) {
            return std::nullopt;
        }
        --j;
        const std::size_t distance = ru() - j;
        if (match_.strength == Strength::strong) {
            if (distance > 8 || repair_.size() > distance + 4) {
                return std::nullopt;
            }
            return replacing(j);
        }
        if (distance > 6 || distance != repair_.size()) {
            return std::nullopt;
        }
        const auto negative = [&](std::size_t first, std::size_t end) {
            return std::any_of(tokens_.begin() + static_cast<std::ptrdiff_t>(first),
                               tokens_.begin() + static_cast<std::ptrdiff_t>(end), isNegative);
        };
        // "It works, I mean, it doesn't." turns the meaning round: not a correction.
        if (negative(j, ru()) != negative(repair_.first, repair_.end)) {
            return std::nullopt;
        }
        return replacing(j);
    }

    // "meet Monday at noon, no, Tuesday.": a value replaces the nearest value of its kind.
    std::optional<Rewrite> typed() const {
        const auto slot = Lexicon::slot(tokens_[repair_.first].folded());
        if (!slot || repair_.size() > 4) {
            return std::nullopt;
        }
        for (std::size_t k = repair_.first + 1; k < repair_.end; ++k) {
            if (Lexicon::contains(Lexicon::Set::clauseWords, tokens_[k].folded())) {
                return std::nullopt;
            }
        }
        const std::size_t lowest = std::max(rl(), ru() >= 4 ? ru() - 4 : 0);
        std::size_t j = ru();
        while (j > lowest && Lexicon::slot(tokens_[j - 1].folded()) != slot) {
            --j;
        }
        if (j == lowest) {
            return std::nullopt;
        }
        --j;
        if (repair_.size() == 1 && j != ru() - 1) {
            return Rewrite{{ru(), repair_.end}, Rewrite::Value{j, ru() - 1, repair_.first}};
        }
        return replacing(j);
    }

    // "bring the red folder, sorry, blue folder.": the last words before the cue give way.
    std::optional<Rewrite> phrase() const {
        if (match_.position == Position::bare) {
            return std::nullopt;
        }
        if (match_.cueWords.size() == 1 &&
            (match_.cueWords[0] == "actually" || match_.cueWords[0] == "wait")) {
            return std::nullopt;
        }
        const std::size_t longest = match_.strength == Strength::strong ? 4 : 2;
        if (repair_.size() > longest || !isContentWord(tokens_[repair_.first])) {
            return std::nullopt;
        }
        for (std::size_t k = repair_.first; k < repair_.end; ++k) {
            if (Lexicon::contains(Lexicon::Set::clauseWords, tokens_[k].folded())) {
                return std::nullopt;
            }
        }
        // The content words at the end of the region, within its last clause.
        std::size_t tail = 0;
        while (tail < region_.size()) {
            const Token& token = tokens_[ru() - 1 - tail];
            if (!isContentWord(token) || (tail > 0 && token.endsClause())) {
                break;
            }
            ++tail;
        }
        std::size_t leading = 0;
        while (repair_.first + leading < repair_.end &&
               isContentWord(tokens_[repair_.first + leading])) {
            ++leading;
        }
        const std::size_t count = std::min({leading, tail, std::size_t{3}});
        if (count == 0 || hasEarlierObject(ru() - tail)) {
            return std::nullopt;
        }
        return replacing(ru() - count);
    }

    // Two content words in a row before the tail: the sentence already names its object, so
    // the repair could replace more than the last words.
    bool hasEarlierObject(std::size_t before) const {
        if (startsUppercase(tokens_[ru() - 1]) && startsUppercase(tokens_[repair_.first])) {
            return false;
        }
        bool previous = false;
        for (std::size_t k = rl(); k < before; ++k) {
            const bool content = isContentWord(tokens_[k]);
            if (content && previous) {
                return true;
            }
            previous = content;
        }
        return false;
    }

    const Tokens& tokens_;
    const CueMatch& match_;
    TokenRange region_;
    TokenRange repair_;
};

} // namespace

std::string resolve(std::string_view text) {
    Tokens tokens = Token::split(text);
    bool changed = false;
    std::size_t scan = 0;
    for (int tried = 0; tried < maxCuesTried; ++tried) {
        std::optional<CueMatch> match;
        while (scan < tokens.size() && !(match = CueMatch::find(tokens, scan))) {
            ++scan;
        }
        if (!match) {
            break;
        }
        std::optional<Rewrite> edited;
        if (const auto region = match->takenBackRegion(tokens)) {
            edited = Edit(tokens, *match, *region, match->repair(tokens)).apply();
        }
        if (edited) {
            edited->apply(tokens);
            changed = true;
            scan = 0;
        } else {
            scan = match->start + 1;
        }
    }
    return changed ? Token::join(tokens) : std::string(text);
}

} // namespace SelfCorrection
