#include "Snippets.h"
#include "Uuid.h"
#include "Vocabulary.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

using Terms = std::vector<std::string>;

TEST(Vocabulary, TermsSkipBlankAndCommentLines) {
    EXPECT_EQ(Vocabulary::terms("# names\n\n  Kubernetes\t\r\n\t# later\nGrafana  Labs \u2028 x"),
              (Terms{"Kubernetes", "Grafana  Labs", "x"}));
}

TEST(Vocabulary, PromptJoinsTermsOrIsNothing) {
    EXPECT_EQ(Vocabulary::prompt("Kubernetes\nGrafana\n"), "Kubernetes, Grafana.");
    EXPECT_EQ(Vocabulary::prompt("# only a comment\n\n   \n"), std::nullopt);
    EXPECT_EQ(Vocabulary::prompt(""), std::nullopt);
}

TEST(Vocabulary, UniqueKeepsTheFirstFormIgnoringCaseAndSpacing) {
    EXPECT_EQ(Vocabulary::unique("Acme  Corp\nacme corp\nACME CORP\nZed"),
              (Terms{"Acme Corp", "Zed"}));
    EXPECT_EQ(Vocabulary::unique("Straße\nSTRASSE"), (Terms{"Straße"}));
}

TEST(Vocabulary, ALongListKeepsWhatAddingOneByOneWouldKeep) {
    // Case variants, spacing, comments and accents among a few thousand terms.
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        const std::string n = std::to_string(i % 701);
        switch (i % 5) {
        case 0:
            text += "Term " + n + "\n";
            break;
        case 1:
            text += "TERM  " + n + "\n";
            break;
        case 2:
            text += "Straße " + n + "\n";
            break;
        case 3:
            text += "STRASSE " + n + "\n";
            break;
        default:
            text += "# note " + n + "\n\n";
            break;
        }
    }
    Terms oneByOne;
    for (const auto& term : Vocabulary::terms(text)) {
        oneByOne = Vocabulary::adding(term, std::move(oneByOne));
    }
    const Terms unique = Vocabulary::unique(text);
    EXPECT_EQ(unique, oneByOne);
    // Each number comes two or three times in turning forms: repeats across case and ß.
    EXPECT_EQ(unique.size(), 1080u);
}

TEST(Vocabulary, AddingRefusesEmptyCommentsAndRepeats) {
    const Terms list{"Acme Corp"};
    EXPECT_EQ(Vocabulary::adding("  Grafana   Labs ", list), (Terms{"Acme Corp", "Grafana Labs"}));
    EXPECT_EQ(Vocabulary::adding("acme   CORP", list), list);
    EXPECT_EQ(Vocabulary::adding("   ", list), list);
    EXPECT_EQ(Vocabulary::adding("#tag", list), list);
}

TEST(Snippet, MakingCollapsesThePhraseAndValidityNeedsRealText) {
    const auto snippet = Snippet::make("  my   addr ", "1 Main St");
    EXPECT_EQ(snippet.phrase, "my addr");
    EXPECT_TRUE(snippet.isValid());
    EXPECT_FALSE(Snippet::make("sig", " \n ").isValid());
    EXPECT_FALSE(Snippet::make("   ", "text").isValid());
}

TEST(Snippet, JsonKeepsKeyOrderAndNeedsEveryKey) {
    Snippet snippet{"0F8FAD5B-D9CB-469F-A165-70867728950E", " odd  phrase", "$1 \\ text"};
    const nlohmann::ordered_json json = snippet;
    EXPECT_EQ(
        json.dump(),
        R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","phrase":" odd  phrase","text":"$1 \\ text"})");
    EXPECT_EQ(json.get<Snippet>(), snippet) << "decoding keeps the phrase as stored";
    auto lower = json;
    lower["id"] = "0f8fad5b-d9cb-469f-a165-70867728950e";
    EXPECT_EQ(lower.get<Snippet>().id, snippet.id);
    for (const char* key : {"id", "phrase", "text"}) {
        auto missing = json;
        missing.erase(key);
        EXPECT_THROW(missing.get<Snippet>(), nlohmann::json::exception) << key;
    }
    auto badId = json;
    badId["id"] = "not-a-uuid";
    EXPECT_THROW(badId.get<Snippet>(), nlohmann::json::exception);
}

TEST(Snippets, AddingPutsTheNewOneFirstAndReplacesSamePhraseOrId) {
    const auto a = Snippet::make("addr", "1 Main St");
    const auto b = Snippet::make("sig", "Best, Ann");
    std::vector<Snippet> list{a, b};

    const auto replacement = Snippet::make("ADDR", "2 High St");
    auto added = Snippets::adding(replacement, list);
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0], replacement);
    EXPECT_EQ(added[1], b);

    Snippet edited = b;
    edited.phrase = "signature";
    added = Snippets::adding(edited, list);
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0], edited);
    EXPECT_EQ(added[1], a);

    EXPECT_EQ(Snippets::adding(Snippet::make("blank", "   "), list), list);
}

TEST(Uuid, GeneratedIdentifiersAreUpperCaseVersion4AndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const auto id = Uuid::generate();
        ASSERT_TRUE(Uuid::isValid(id)) << id;
        EXPECT_EQ(id, Uuid::canonical(id));
        EXPECT_EQ(id[14], '4');
        EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_FALSE(Uuid::isValid("0F8FAD5B-D9CB-469F-A165-70867728950"));
    EXPECT_FALSE(Uuid::isValid("0F8FAD5B+D9CB-469F-A165-70867728950E"));
    EXPECT_FALSE(Uuid::isValid("GF8FAD5B-D9CB-469F-A165-70867728950E"));
}

} // namespace
