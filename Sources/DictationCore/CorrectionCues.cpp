#include "CorrectionCues.h"

#include "Characters.h"
#include "Text.h"

#include <array>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unordered_set>

namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace

std::string foldedWord(std::string_view word) {
    bool ascii = true;
    for (unsigned char c : word) {
        ascii = ascii && c < 0x80;
    }
    std::string folded;
    if (ascii) {
        folded.reserve(word.size());
        for (char c : word) {
            folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return folded;
    }
    icu::UnicodeString::fromUTF8(icu::StringPiece(word.data(), static_cast<int32_t>(word.size())))
        .toLower(icu::Locale::getRoot())
        .findAndReplace(icu::UnicodeString(static_cast<UChar32>(0x2019)), icu::UnicodeString(u'\''))
        .toUTF8String(folded);
    return folded;
}

std::string Token::folded() const {
    return foldedWord(word);
}

bool Token::isSentenceEnd() const {
    return contains(trail, "?") || contains(trail, "!") ||
           (contains(trail, ".") && !contains(word, "."));
}

bool Token::endsClause() const {
    if (isSentenceEnd()) {
        return true;
    }
    for (std::string_view mark : {",", ";", ":", "\u2014", "\u2013", "\u2026"}) {
        if (contains(trail, mark)) {
            return true;
        }
    }
    return false;
}

namespace {

bool isWordy(char32_t c) {
    return Characters::isLetter(c) || Characters::isNumeric(c);
}

// One piece cut into lead, word and trail in a single walk.
Token cut(std::string_view piece) {
    std::size_t wordStart = piece.size();
    std::size_t wordEnd = piece.size();
    bool inWord = false;
    Characters::forEachCharacter(piece, [&](std::size_t start, std::size_t end, char32_t c) {
        // The lead stops at the first letter, digit or "$" ...
        if (!inWord && (isWordy(c) || c == U'$')) {
            inWord = true;
            wordStart = start;
            wordEnd = start;
        }
        // ... and the trail starts after the last letter, digit or "%" from there on.
        if (inWord && (isWordy(c) || c == U'%')) {
            wordEnd = end;
        }
    });
    return Token{std::string(piece.substr(0, wordStart)),
                 std::string(piece.substr(wordStart, wordEnd - wordStart)),
                 std::string(piece.substr(wordEnd))};
}

} // namespace

std::vector<Token> Token::split(std::string_view text) {
    std::vector<Token> tokens;
    tokens.reserve(text.size() / 5 + 1);
    std::size_t pieceStart = std::string_view::npos;
    const auto finishPiece = [&](std::size_t end) {
        const std::string_view piece = text.substr(pieceStart, end - pieceStart);
        pieceStart = std::string_view::npos;
        Token token = cut(piece);
        if (token.word.empty() && !tokens.empty()) {
            tokens.back().trail += piece;
        } else {
            tokens.push_back(std::move(token));
        }
    };
    // Pieces are cut at white space code points, so a stray mark after a space stays text.
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        const auto start = static_cast<std::size_t>(i);
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        const bool space = c >= 0 && Text::isWhitespace(static_cast<char32_t>(c));
        if (space && pieceStart != std::string_view::npos) {
            finishPiece(start);
        } else if (!space && pieceStart == std::string_view::npos) {
            pieceStart = start;
        }
    }
    if (pieceStart != std::string_view::npos) {
        finishPiece(text.size());
    }
    return tokens;
}

std::string Token::join(const std::vector<Token>& tokens) {
    std::string text;
    for (const auto& token : tokens) {
        if (!text.empty()) {
            text += ' ';
        }
        text += token.lead;
        text += token.word;
        text += token.trail;
    }
    return text;
}

namespace Lexicon {

namespace {

using WordSet = std::unordered_set<std::string_view>;

const WordSet& words(Set set) {
    static const std::array<WordSet, 7> sets{{
        // function
        {"a",       "an",     "the",     "this",    "that",    "these", "those",  "my",
         "your",    "his",    "her",     "its",     "our",     "their", "i",      "you",
         "he",      "she",    "we",      "they",    "it",      "me",    "him",    "us",
         "them",    "i'm",    "you're",  "we're",   "they're", "it's",  "that's", "there's",
         "i'll",    "you'll", "we'll",   "they'll", "i've",    "i'd",   "let's",  "to",
         "of",      "in",     "on",      "at",      "for",     "with",  "from",   "by",
         "about",   "into",   "onto",    "over",    "under",   "after", "before", "between",
         "through", "during", "without", "within",  "and",     "or",    "but",    "so",
         "if",      "then",   "than",    "as",      "because", "while", "when",   "where",
         "who",     "what",   "which",   "how",     "why",     "is",    "are",    "was",
         "were",    "be",     "been",    "being",   "am",      "do",    "does",   "did",
         "have",    "has",    "had",     "will",    "would",   "can",   "could",  "should",
         "shall",   "may",    "might",   "must",    "not",     "just",  "also",   "very",
         "too",     "there",  "here",    "up",      "down",    "out",   "off"},
        // hedges
        {"yes",    "yeah",  "yep",      "no",     "nope",    "okay",    "ok",
         "sure",   "well",  "maybe",    "right",  "fine",    "thanks",  "thank",
         "please", "sorry", "actually", "like",   "problem", "worries", "idea",
         "way",    "never", "really",   "anyway", "though",  "else",    "instead"},
        // clauseWords
        {"i",      "you",     "he",     "she",     "we",    "they",  "it",     "i'm",   "it's",
         "that's", "there's", "that",   "which",   "who",   "is",    "are",    "was",   "were",
         "be",     "do",      "does",   "did",     "have",  "has",   "will",   "would", "can",
         "could",  "should",  "might",  "must",    "works", "work",  "sounds", "seems", "looks",
         "needs",  "wants",   "better", "instead", "fine",  "great", "good"},
        // weekdays
        {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday", "today",
         "tomorrow", "yesterday", "tonight", "weekend"},
        // months
        {"january", "february", "march", "april", "may", "june", "july", "august", "september",
         "october", "november", "december"},
        // dayparts
        {"morning", "afternoon", "evening", "noon", "midnight", "lunchtime"},
        // numberWords
        {"zero",     "one",      "two",     "three",     "four",     "five",     "six",
         "seven",    "eight",    "nine",    "ten",       "eleven",   "twelve",   "thirteen",
         "fourteen", "fifteen",  "sixteen", "seventeen", "eighteen", "nineteen", "twenty",
         "thirty",   "forty",    "fifty",   "sixty",     "seventy",  "eighty",   "ninety",
         "hundred",  "thousand", "million", "half",      "first",    "second",   "third",
         "fourth",   "fifth"},
    }};
    return sets[static_cast<std::size_t>(set)];
}

} // namespace

bool contains(Set set, std::string_view foldedWord) {
    return words(set).contains(foldedWord);
}

std::size_t size(Set set) {
    return words(set).size();
}

std::optional<Slot> slot(std::string_view word) {
    bool numeric = false;
    Characters::forEachCharacter(word, [&](std::size_t, std::size_t, char32_t c) {
        numeric = numeric || Characters::isNumeric(c);
    });
    if (numeric || contains(Set::numberWords, word)) {
        return Slot::number;
    }
    if (contains(Set::weekdays, word)) {
        return Slot::day;
    }
    if (contains(Set::months, word) && word != "may") {
        return Slot::month;
    }
    if (contains(Set::dayparts, word)) {
        return Slot::daypart;
    }
    return std::nullopt;
}

} // namespace Lexicon

const std::vector<Cue>& Cue::table() {
    using enum Strength;
    static const std::vector<Cue> cues{
        {{"sorry", "i", "meant"}, strong, false, false},
        {{"sorry", "i", "mean"}, strong, false, false},
        {{"no", "wait"}, strong, true, false},
        {{"wait", "no"}, strong, true, false},
        {{"actually", "no"}, strong, false, false},
        {{"no", "actually"}, strong, false, false},
        {{"no", "sorry"}, strong, false, false},
        {{"sorry", "no"}, strong, false, false},
        {{"no", "no"}, strong, false, false},
        {{"i", "meant"}, strong, false, false},
        {{"or", "rather"}, strong, false, false},
        {{"make", "that"}, strong, false, false},
        {{"make", "it"}, strong, false, false},
        {{"correction"}, strong, false, true},
        {{"scratch", "that"}, scratch, false, false},
        {{"strike", "that"}, scratch, false, false},
        {{"i", "mean"}, weak, false, false},
        {{"actually"}, weak, false, false},
        {{"sorry"}, weak, false, true},
        {{"no"}, weak, false, true},
        {{"wait"}, weak, false, true},
    };
    return cues;
}

namespace {

// The first cue of the table spoken at `index`. Inside a cue only a bare comma may follow a word.
const Cue* matchCue(const std::vector<Token>& tokens, std::size_t index) {
    // Most words cannot open any cue; telling them apart costs no folding.
    const std::string& first = tokens[index].word;
    if (first.empty() || first.size() > std::string_view("correction").size() ||
        std::string_view("SsNnWwAaIiOoMmCc").find(first[0]) == std::string_view::npos) {
        return nullptr;
    }
    std::array<std::optional<std::string>, 3> folded;
    const auto foldedAt = [&](std::size_t offset) -> const std::string& {
        if (!folded[offset]) {
            folded[offset] = tokens[index + offset].folded();
        }
        return *folded[offset];
    };
    for (const Cue& cue : Cue::table()) {
        const std::size_t count = cue.words.size();
        if (index + count > tokens.size()) {
            continue;
        }
        bool matches = true;
        for (std::size_t k = 0; k < count && matches; ++k) {
            matches =
                foldedAt(k) == cue.words[k] && (k + 1 == count || tokens[index + k].trail.empty() ||
                                                tokens[index + k].trail == ",");
        }
        if (matches) {
            return &cue;
        }
    }
    return nullptr;
}

// The first token after the last sentence end before `index`.
std::size_t sentenceStart(const std::vector<Token>& tokens, std::size_t index) {
    while (index > 0 && !tokens[index - 1].isSentenceEnd()) {
        --index;
    }
    return index;
}

} // namespace

std::optional<CueMatch> CueMatch::find(const std::vector<Token>& tokens, std::size_t index) {
    if (index >= tokens.size()) {
        return std::nullopt;
    }
    Position position = Position::bare;
    if (index == 0 || tokens[index - 1].isSentenceEnd()) {
        position = Position::sentenceStart;
    } else if (tokens[index - 1].endsClause()) {
        position = Position::afterComma;
    }

    const Cue* cue = matchCue(tokens, index);
    if (!cue || (position == Position::bare && !cue->allowsBare)) {
        return std::nullopt;
    }

    CueMatch match{index, index + cue->words.size(), cue->strength, position, cue->words};
    bool chained = false;
    // "no, wait, sorry," is one strong correction.
    while (match.end < tokens.size() && !tokens[match.end - 1].isSentenceEnd() &&
           match.strength != Strength::scratch) {
        const Cue* next = matchCue(tokens, match.end);
        if (!next || next->strength == Strength::scratch) {
            break;
        }
        match.cueWords.insert(match.cueWords.end(), next->words.begin(), next->words.end());
        match.end += next->words.size();
        match.strength = Strength::strong;
        chained = true;
    }

    const Token& last = tokens[match.end - 1];
    if (match.strength == Strength::scratch) {
        // "scratch that" running straight into more words is part of a sentence.
        if (match.end < tokens.size() && !last.endsClause()) {
            return std::nullopt;
        }
    } else if (!chained && cue->needsCommaAfter && !contains(last.trail, ",")) {
        return std::nullopt;
    }
    return match;
}

std::optional<TokenRange> CueMatch::takenBackRegion(const std::vector<Token>& tokens) const {
    if (position == Position::sentenceStart) {
        // Only a statement can be taken back; after a question the cue answers it.
        if (start == 0) {
            return std::nullopt;
        }
        const std::string& trail = tokens[start - 1].trail;
        if (!contains(trail, ".") || contains(trail, "?") || contains(trail, "!")) {
            return std::nullopt;
        }
        return TokenRange{sentenceStart(tokens, start - 1), start};
    }
    const TokenRange region{sentenceStart(tokens, start), start};
    if (region.isEmpty()) {
        return std::nullopt;
    }
    return region;
}

TokenRange CueMatch::repair(const std::vector<Token>& tokens) const {
    std::size_t last = end;
    while (last < tokens.size() && !tokens[last].endsClause()) {
        ++last;
    }
    return TokenRange{end, std::min(last + 1, tokens.size())};
}
