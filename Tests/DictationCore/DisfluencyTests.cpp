#include "Disfluency.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    std::string input;
    std::string expected;
};

void expectRows(const std::vector<Row>& rows) {
    for (const auto& row : rows) {
        EXPECT_EQ(Disfluency::strip(row.input), row.expected) << "input: " << row.input;
    }
}

TEST(Disfluency, HesitationSoundsGoWithTheirCommas) {
    expectRows({
        {"Um, so we left", "So we left"},
        {"so, uh, we left", "So we left"},
        {"we left early, um.", "We left early."},
        {"done um.", "Done."},
        {"is it ready, uhh?", "Is it ready?"},
        {"we uh went home", "We went home"},
        {"we UMM went home", "We went home"},
        {"ermm the plan is, uh, fine", "The plan is fine"},
        {"it was uuhh great", "It was great"},
        // A filler at the very end with nothing after it stays.
        {"we stopped at um", "We stopped at um"},
        // hmm, ah and er are words too often to drop.
        {"hmm ah er okay", "Hmm ah er okay"},
    });
}

TEST(Disfluency, WordsThatContainAFillerAreNeverTouched) {
    expectRows({
        {"my umbrella in summer", "My umbrella in summer"},
        {"hummus and uhura", "Hummus and uhura"},
        {"the term erm-like is odd", "The term erm-like is odd"},
    });
}

TEST(Disfluency, CommaEnclosedLikeGoesButTheVerbStays) {
    expectRows({
        {"I was, like, tired", "I was tired"},
        {"I like, you know, cake", "I like, you know, cake"},
        {"they were, LIKE, everywhere", "They were everywhere"},
        {"I like cake", "I like cake"},
    });
}

TEST(Disfluency, PhrasesSaidTwiceCollapseToTheFirstCopy) {
    expectRows({
        {"I think I think it works", "I think it works"},
        {"we should, we should go", "We should go"},
        {"on the way home on the way home we sang", "On the way home we sang"},
        {"Thank You thank you all", "Thank You all"},
        // A single doubled word is the speaker's business.
        {"the the end", "The the end"},
        // Five words are too long to count as a stutter.
        {"a b c d e a b c d e", "A b c d e a b c d e"},
        {"it's it's fine it's fine", "It's it's fine"},
    });
}

TEST(Disfluency, SentenceStartsAreCapitalised) {
    expectRows({
        {"hello. how are you? fine! thanks", "Hello. How are you? Fine! Thanks"},
        {"  \"quoted start", "  \"Quoted start"},
        {"3 apples. and pears", "3 apples. And pears"},
        {"ok.  two spaces", "Ok.  Two spaces"},
        // Only a space straight after the mark starts a sentence.
        {"one.\ntwo", "One.\ntwo"},
        {"he said \"stop.\" then left", "He said \"stop.\" then left"},
        {"version 2.5 is out", "Version 2.5 is out"},
        // Nothing is ever lower-cased.
        {"NASA said. OK", "NASA said. OK"},
        {"", ""},
        {"...", "..."},
    });
}

TEST(Disfluency, AbbreviationsAndTimesKeepTheirCase) {
    expectRows({
        {"e.g. this one", "E.g. This one"},
        {"meet at 9 a.m. then lunch", "Meet at 9 a.m. then lunch"},
        {"until 5 p.m. we work", "Until 5 p.m. we work"},
        {"it ends at 5 p.m.", "It ends at 5 p.m."},
        // The a.m. rule is about the lower-case form that the recogniser writes.
        {"at 9 A.M. then", "At 9 A.M. Then"},
    });
}

TEST(Disfluency, CapitalsFollowWholeCharacters) {
    expectRows({
        // German sharp s upper-cases to two letters.
        {"ß ist gut", "SS ist gut"},
        // A letter with a combining accent stays one character with its accent.
        {"e\u0301te\u0301. e\u0301crit", "E\u0301te\u0301. E\u0301crit"},
        {"élan. über alles", "Élan. Über alles"},
        {"日本語です. ok", "日本語です. Ok"},
        {"😀 smile. 👍 done", "😀 Smile. 👍 Done"},
        {"привет. как дела", "Привет. Как дела"},
    });
}

} // namespace
