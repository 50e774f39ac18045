#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One white-space-separated piece of a transcript: the punctuation before its core, the core
// (letters, digits, "$" at the front and "%" at the back), and the punctuation after it.
// The three together are the piece exactly.
struct Token {
    std::string lead;
    std::string word;
    std::string trail;

    bool operator==(const Token&) const = default;

    // Lower case, with the typographic apostrophe made plain, for comparing with word lists.
    std::string folded() const;

    // "?" or "!", or a "." that is not part of the word itself (as in "a.m.").
    bool isSentenceEnd() const;
    // A sentence end, or a comma, semicolon, colon, dash or ellipsis after the word.
    bool endsClause() const;

    // Pieces without a core join the trail of the piece before them.
    static std::vector<Token> split(std::string_view text);
    // The pieces separated by single spaces.
    static std::string join(const std::vector<Token>& tokens);
};

// The folded form of any word.
std::string foldedWord(std::string_view word);

// Fixed English word sets, all matched against folded words.
namespace Lexicon {

enum class Set { function, hedges, clauseWords, weekdays, months, dayparts, numberWords };
bool contains(Set set, std::string_view foldedWord);
std::size_t size(Set set);

// The kind of value a word names.
enum class Slot { number, day, month, daypart };
// "may" is never a month: it is far more often the verb.
std::optional<Slot> slot(std::string_view foldedWord);

} // namespace Lexicon

enum class Strength { weak, strong, scratch };

enum class Position {
    afterComma,    // the token before ends a clause but not a sentence
    sentenceStart, // the first token, or the token before ends a sentence
    bare,          // the token before has no clause punctuation
};

// A spoken correction cue.
struct Cue {
    std::vector<std::string_view> words;
    Strength strength;
    bool allowsBare;      // counts even without punctuation before it
    bool needsCommaAfter; // its last token must carry a comma, unless cues were chained

    // The cues in the order they are tried: longer cues before their own tails.
    static const std::vector<Cue>& table();
};

// Half-open ranges of token indexes.
struct TokenRange {
    std::size_t first = 0;
    std::size_t end = 0;

    bool operator==(const TokenRange&) const = default;
    std::size_t size() const { return end - first; }
    bool isEmpty() const { return end <= first; }
};

// A cue (or a chain of cues) found in a token list.
struct CueMatch {
    std::size_t start = 0; // the cue's first token
    std::size_t end = 0;   // after its last token
    Strength strength = Strength::weak;
    Position position = Position::bare;
    std::vector<std::string_view> cueWords;

    bool operator==(const CueMatch&) const = default;

    // The match that starts exactly at token `index`, if any.
    static std::optional<CueMatch> find(const std::vector<Token>& tokens, std::size_t index);

    // The tokens the speaker takes back: the current sentence up to the cue, or, for a cue that
    // opens a sentence, the whole sentence before it when that ended with a period.
    std::optional<TokenRange> takenBackRegion(const std::vector<Token>& tokens) const;

    // The tokens that replace it: from the cue's end through the first that ends a clause.
    TokenRange repair(const std::vector<Token>& tokens) const;
};
