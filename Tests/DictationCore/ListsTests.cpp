#include "Lists.h"
#include "SpokenCommands.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    std::string input;
    std::string expected;
};

TEST(SpokenCommands, BreaksAreSpokenAsCommands) {
    const std::vector<Row> rows = {
        {"Thanks. New paragraph. See you", "Thanks.\n\nSee you"},
        {"Dear team, new line thanks", "Dear team\nthanks"},
        {"first point next line second point", "first point\nsecond point"},
        {"done! NEW LINE, more", "done!\nmore"},
        {"one; new paragraph: two", "one\n\ntwo"},
        {"ends with new line", "ends with\n"},
        {"new line at the start", "\nat the start"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SpokenCommands::apply(row.input), row.expected) << row.input;
    }
}

TEST(SpokenCommands, CommandsNextToDeterminersStayWords) {
    for (const std::string text : {
             "we launched a new line of products",
             "read the next line carefully",
             "start the new paragraph here",
             "this new line is better than that next line",
             "their new line, his next line and its new paragraph",
             "every new line counts",
             "newline and new lines are words",
         }) {
        EXPECT_EQ(SpokenCommands::apply(text), text);
    }
    // The determiner has to come right before the phrase.
    EXPECT_EQ(SpokenCommands::apply("the end new line begin"), "the end\nbegin");
}

TEST(SpokenCommands, BackTicksWrapInlineCode) {
    const std::vector<Row> rows = {
        {"run back tick npm install back tick now", "run `npm install` now"},
        {"type backtick ls -la backtick, then enter", "type `ls -la`, then enter"},
        {"use Back-Ticks git status back ticks please", "use `git status` please"},
        {"a back tick b back tick and back tick c back tick", "a `b` and `c`"},
        // One spoken back tick has nothing to pair with.
        {"a lone back tick here", "a lone back tick here"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SpokenCommands::apply(row.input), row.expected) << row.input;
    }
}

TEST(Lists, ListsSpokenInRunningText) {
    const std::vector<Row> rows = {
        {"Here is the plan: first, book the venue, second, send the invites, and third, order "
         "the food. After that we relax.",
         "Here is the plan:\n1. Book the venue\n2. Send the invites\n3. Order the food\n\nAfter "
         "that we relax."},
        {"number one apples, number two pears", "1. Apples\n2. Pears"},
        {"one, milk. two, bread.", "1. Milk\n2. Bread"},
        {"bullet point eggs bullet point flour", "- Eggs\n- Flour"},
        {"Shopping bullet eggs, bullet flour and bullet point sugar",
         "Shopping:\n- Eggs\n- Flour\n- Sugar"},
        {"Firstly, we plan. Secondly we build. Why? We must.",
         "1. We plan\n2. We build\n\nWhy? We must."},
        {"first of all, coffee; then second, tea", "1. Coffee\n2. Tea"},
        {"Can you do two things? first, call Ann. second, email Bob",
         "Can you do two things?\n1. Call Ann\n2. Email Bob"},
        {"Todo. Number 1 wash the car. Number 2 iPhone backup",
         "Todo:\n1. Wash the car\n2. iPhone backup"},
        // The numbers are renumbered from 1, and a repeated marker stays inside its item.
        {"first, a. second, b. second, c. third, d", "1. A\n2. B. second, c\n3. D"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Lists::apply(row.input), row.expected) << row.input;
    }
}

TEST(Lists, OrdinaryTextIsNotAList) {
    for (const std::string text : {
             "My goals are first ship it and second fix it",
             "one more thing, two more days",
             "we came first, and second place went to Ann",
             "bullet point only once",
             "first, then nothing else",
             "second, third, fourth.",
             "first, second, third",
             "number three first, number four",
             "",
         }) {
        EXPECT_EQ(Lists::apply(text), text);
    }
}

TEST(Lists, ClauseStartsAndJoiningWords) {
    const std::string text = "ok. and then, also first";
    EXPECT_TRUE(Lists::startsClause("first", 0));
    EXPECT_TRUE(Lists::startsClause("  \n first", 4));
    EXPECT_TRUE(Lists::startsClause("the plan: first", 10));
    EXPECT_TRUE(Lists::startsClause("venue, and first", 11));
    EXPECT_TRUE(Lists::startsClause("venue, AND  first", 12));
    EXPECT_TRUE(Lists::startsClause("and first", 4));
    EXPECT_TRUE(Lists::startsClause(text, text.find("first")));
    EXPECT_FALSE(Lists::startsClause("goals are first", 10));
    EXPECT_FALSE(Lists::startsClause("venue and first", 10));
    EXPECT_FALSE(Lists::startsClause("venue, sand first", 11));
    EXPECT_FALSE(Lists::startsClause("venue, and and first", 15));
}

TEST(Lists, MarkersCountUpFromOne) {
    const auto at = [](std::vector<int> positions) {
        std::vector<Lists::Marker> markers;
        for (std::size_t i = 0; i < positions.size(); ++i) {
            markers.push_back({{i * 10, i * 10 + 5}, positions[i]});
        }
        return markers;
    };
    const auto positions = [](const std::vector<Lists::Marker>& markers) {
        std::vector<int> out;
        for (const auto& m : markers) {
            out.push_back(m.position);
        }
        return out;
    };
    EXPECT_EQ(positions(Lists::inOrder(at({1, 2, 2, 3}), true)), (std::vector{1, 2, 3}));
    EXPECT_EQ(positions(Lists::inOrder(at({3, 1, 3, 2, 3}), true)), (std::vector{1, 2, 3}));
    EXPECT_EQ(positions(Lists::inOrder(at({2, 3, 4}), true)), std::vector<int>{});
    EXPECT_EQ(positions(Lists::inOrder(at({1, 1, 2}), true)), (std::vector{1, 2}));
    EXPECT_EQ(positions(Lists::inOrder(at({0, 0, 0}), false)), (std::vector{0, 0, 0}));
    // The second marker kept is the one right after the first 1, not any later one.
    EXPECT_EQ(Lists::inOrder(at({1, 2, 2}), true)[1].range.start, 10u);
}

TEST(Lists, ItemsIntroductionsAndNumbers) {
    const std::string text = "intro first, a, and second b. rest here";
    const Lists::Marker one{{6, 11}, 1}, two{{20, 26}, 2};
    const auto cut = Lists::items(text, {one, two});
    EXPECT_EQ(cut.items, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(cut.rest, "rest here");
    EXPECT_EQ(Lists::items("x first b.", {{{2, 7}, 1}}).rest, "");

    EXPECT_EQ(Lists::item(" - eggs, then "), "Eggs");
    EXPECT_EQ(Lists::item(":  flour; also"), "Flour");
    EXPECT_EQ(Lists::item("flour; also."), "Flour; also");
    EXPECT_EQ(Lists::item("eBay listing."), "eBay listing");
    EXPECT_EQ(Lists::item(" , . "), "");

    EXPECT_EQ(Lists::introduction("Here is the plan: "), "Here is the plan:");
    EXPECT_EQ(Lists::introduction("We need, and"), "We need:");
    EXPECT_EQ(Lists::introduction("Ready?"), "Ready?");
    EXPECT_EQ(Lists::introduction("Wow!"), "Wow!");
    EXPECT_EQ(Lists::introduction(" ... , "), "");

    const std::vector<std::pair<std::string, int>> numbers = {
        {"1", 1},     {"07", 7},     {"+3", 3}, {"-2", -2}, {"one", 1}, {"TEN", 10},
        {"Seven", 7}, {"eleven", 0}, {"", 0},   {"+", 0},   {"1a", 0},  {"99999999999999999999", 0},
    };
    for (const auto& [word, value] : numbers) {
        EXPECT_EQ(Lists::number(word), value) << word;
    }
}

} // namespace
