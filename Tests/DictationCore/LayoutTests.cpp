#include "EmailLayout.h"
#include "Layout.h"
#include "Paragraphs.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    std::string input;
    std::string expected;
};

std::string email(std::string_view text) {
    return Layout::format(text, WritingContext::email);
}

TEST(EmailLayout, GreetingBodyAndSignOffBecomeBlocks) {
    EXPECT_EQ(email("Hi Sarah, thanks for sending the deck yesterday. I went through it and have "
                    "a few notes. The timeline looks tight. Can we talk on Friday? Also, the "
                    "budget slide needs an update. Best regards, Tom"),
              "Hi Sarah,\n\nThanks for sending the deck yesterday. I went through it and have a "
              "few notes. The timeline looks tight.\n\nCan we talk on Friday?\n\nAlso, the budget "
              "slide needs an update.\n\nBest regards,\nTom");
    EXPECT_EQ(email("hey team thanks for the help on the launch this week. cheers"),
              "Hey team,\n\nThanks for the help on the launch this week.\n\nCheers,");
    EXPECT_EQ(email("good morning Anna Lee. the report is attached as promised, Kind regards "
                    "Mary Ann"),
              "Good morning Anna Lee,\n\nThe report is attached as promised.\n\nKind "
              "regards,\nMary Ann");
    EXPECT_EQ(email("Dear all — the office is closed on Monday for the holiday. Thanks!"),
              "Dear all,\n\nThe office is closed on Monday for the holiday.\n\nThanks!");
}

TEST(EmailLayout, GreetingsNeedAMessageAfterThem) {
    const std::vector<Row> rows = {
        {"Hi Tom, see you at noon", "Hi Tom, see you at noon."},
        // A capitalised "I" is the start of the message, never the greeted name.
        {"Hi I wanted to ask about the launch date",
         "Hi,\n\nI wanted to ask about the launch date."},
        {"Hello Thanks for the quick reply on the contract", "Hello,\n\nThanks for the quick "
                                                             "reply on the contract."},
        // Only the first two capitalised words are a name.
        {"Hi Ann Marie Smith we need the numbers by Friday",
         "Hi Ann Marie,\n\nSmith we need the numbers by Friday."},
        // "high" is not "hi".
        {"highly unusual weather today across the whole country",
         "Highly unusual weather today across the whole country."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(email(row.input), row.expected) << row.input;
    }
}

TEST(EmailLayout, SignOffsNeedABodyBeforeThem) {
    const std::vector<Row> rows = {
        {"Can you send the file today? thanks", "Can you send the file today?\n\nThanks,"},
        {"please call me back, thank you so much.", "Please call me back.\n\nThank you so much,"},
        {"see you then. Talk soon!", "See you then.\n\nTalk soon!"},
        // Two words are too few to stand alone as a body.
        {"ok then. Thanks", "Ok then. Thanks."},
        {"Thanks", "Thanks."},
        // Best only closes the message at its very end.
        {"best wishes to your team from all of us", "Best wishes to your team from all of us."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(email(row.input), row.expected) << row.input;
    }
    EXPECT_EQ(EmailLayout::signOffParts("The plan works, best regards, Tom"),
              (EmailLayout::SignOff{"The plan works.", "Best regards,\nTom"}));
    EXPECT_EQ(EmailLayout::signOffParts("all set.\ncheers"),
              (EmailLayout::SignOff{"all set.", "Cheers,"}));
    EXPECT_EQ(EmailLayout::signOffParts("thanks for everything today"), std::nullopt);
    EXPECT_EQ(EmailLayout::signOffParts("without a closing"), std::nullopt);
}

TEST(EmailLayout, ListsInAnEmailStayLists) {
    EXPECT_EQ(email("Hi Tom, here is what we still need for the trip: first, tickets, second, a "
                    "hotel. Thanks, Ann"),
              "Hi Tom,\n\nHere is what we still need for the trip:\n1. Tickets\n2. A "
              "hotel\n\nThanks,\nAnn");
}

TEST(Paragraphs, DocumentsBreakAtTopicShifts) {
    const std::string six = "One is here. Two is here. Three is here. Four is here. Five is "
                            "here. Six is here";
    EXPECT_EQ(Layout::format(six, WritingContext::document), six + ".");
    EXPECT_EQ(Layout::format("We met today. Also, the budget grew. By the way it rained. "
                             "P.S. call me",
                             WritingContext::document),
              "We met today.\n\nAlso, the budget grew.\n\nBy the way it rained.\n\nP.S. call me.");
    EXPECT_EQ(Paragraphs::split("A one. B two. C three. D four.", 2),
              "A one. B two.\n\nC three. D four.");
    // Topic words start a paragraph only at the start of a sentence.
    EXPECT_EQ(Paragraphs::split("We also met. Then next week. Next, lunch.", std::nullopt),
              "We also met. Then next week.\n\nNext, lunch.");
}

TEST(Paragraphs, SentencesBreakBeforeCapitalsDigitsAndQuotes) {
    using Sentences = std::vector<std::string>;
    EXPECT_EQ(Paragraphs::sentences("It works. 3 left! \"Quote\" here? (Aside) ok"),
              (Sentences{"It works.", "3 left!", "\"Quote\" here?", "(Aside) ok"}));
    EXPECT_EQ(Paragraphs::sentences("it works. then more. Émile came"),
              (Sentences{"it works. then more.", "Émile came"}));
    EXPECT_EQ(Paragraphs::sentences("Use e.g. the red one. Or not"),
              (Sentences{"Use e.g. the red one.", "Or not"}));
    EXPECT_EQ(Paragraphs::sentences("  \n "), Sentences{});
    // A control character in the text is text, not a break.
    EXPECT_EQ(Paragraphs::sentences("a\x1f"
                                    "b. C"),
              (Sentences{"a\x1f"
                         "b.",
                         "C"}));
}

TEST(Paragraphs, BlocksWithListsAreLeftAlone) {
    const std::string listed = "Plan. Also this:\n1. Do it. Also that\n2. Done";
    EXPECT_EQ(Paragraphs::apply(listed + "\n\nFirst. Also second.", std::nullopt),
              listed + "\n\nFirst.\n\nAlso second.");
    EXPECT_EQ(Layout::format("We need: first, milk, second, eggs", WritingContext::document),
              "We need:\n1. Milk\n2. Eggs");
}

TEST(Layout, LineStartsAreCapitalisedInEveryContext) {
    for (const auto context : WritingContexts::allCases) {
        EXPECT_TRUE(Layout::format("hello there", context).starts_with("Hello there"))
            << WritingContexts::rawValue(context);
    }
    EXPECT_EQ(Layout::format("hello there", WritingContext::chat), "Hello there");
    EXPECT_EQ(Layout::format("hello there", WritingContext::prompt), "Hello there");
    EXPECT_EQ(Layout::format("hello there", WritingContext::other), "Hello there");
    EXPECT_EQ(Layout::format("hello there", WritingContext::document), "Hello there.");
    EXPECT_EQ(Layout::format("first line new line second line", WritingContext::chat),
              "First line\nSecond line");

    const std::vector<Row> rows = {
        {"iPhone sales", "iPhone sales"},
        {"eBay and more", "eBay and more"},
        {"macOS", "macOS"},
        {"- eggs", "- Eggs"},
        {"12. item", "12. Item"},
        {"\"quoted\"", "\"Quoted\""},
        {"straße", "Straße"},
        {"ǆungla", "Ǆungla"},
        {"ßuper", "SSuper"},
        {"  ", "  "},
        {"123", "123"},
        {"e\u0301t\u00e9", "E\u0301t\u00e9"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Layout::capitalizeFirstLetter(row.input), row.expected) << row.input;
    }
}

TEST(Layout, TidyClosesParagraphsButNotLists) {
    EXPECT_EQ(Layout::tidy("one  \n\n\n\n  two\t\nthree", true, true), "One.\n\nTwo\nThree.");
    EXPECT_EQ(Layout::tidy("one\n\ntwo", true, false), "One.\n\nTwo");
    EXPECT_EQ(Layout::tidy("one\n\ntwo", false, true), "One\n\nTwo");
    EXPECT_EQ(Layout::tidy("intro:\n1. milk\n- eggs\n\nend 5", true, true),
              "Intro:\n1. Milk\n- Eggs\n\nEnd 5.");
    EXPECT_EQ(Layout::tidy("done!\n\nwhy?\n\n(aside)", true, true), "Done!\n\nWhy?\n\n(Aside)");
    EXPECT_EQ(Layout::tidy("café\n\nnaïve", true, true), "Café.\n\nNaïve.");
}

TEST(Layout, WhitespaceAndBlocks) {
    for (const auto context : WritingContexts::allCases) {
        EXPECT_EQ(Layout::format(" \n\t ", context), " \n\t ");
        EXPECT_EQ(Layout::format("", context), "");
    }
    EXPECT_EQ(Layout::blocks(" a \n\n\t\n\n b\nc \n\n"), (std::vector<std::string>{"a", "b\nc"}));
    EXPECT_EQ(Layout::blocks("a\n\n\nb"), (std::vector<std::string>{"a", "\nb"}));
    EXPECT_EQ(Layout::format("  one\n\n\n\n\ntwo  ", WritingContext::chat), "One\n\nTwo");
    EXPECT_TRUE(Layout::isListLine("10. x"));
    EXPECT_FALSE(Layout::isListLine("10.x"));
    EXPECT_FALSE(Layout::isListLine("-x"));
    EXPECT_FALSE(Layout::isListLine("x 1. y"));
}

} // namespace
