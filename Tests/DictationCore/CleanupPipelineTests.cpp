#include "CleanupPipeline.h"

#include <gtest/gtest.h>

namespace {

using CleanupPipeline::run;

const ScreenContext unknown;
const std::vector<Snippet> none;

CleanupPipeline::Stages clean(std::string_view transcript, const ScreenContext& context = unknown,
                              bool cleanup = true) {
    return run(transcript, context, cleanup, false, WritingStyle::polished, none, {});
}

TEST(CleanupPipeline, NothingHeardRunsNoStage) {
    for (const std::string transcript : {"", " \n\t", " [BLANK_AUDIO] \n"}) {
        const auto stages = clean(transcript);
        EXPECT_TRUE(stages.isEmpty) << transcript;
        EXPECT_EQ(stages.final, "");
    }
    EXPECT_FALSE(clean("[blank_audio]").isEmpty);
    EXPECT_FALSE(clean("[BLANK_AUDIO] hello").isEmpty);
}

TEST(CleanupPipeline, FiveWordsRunTheCleanupStageAndFourDoNot) {
    // Four words: the filler stays, the spoken layout command still works.
    const auto four = clean("um new paragraph hi");
    EXPECT_FALSE(four.cleaned);
    EXPECT_EQ(four.chosen, "um new paragraph hi");
    EXPECT_EQ(four.stripped, "um new paragraph hi");
    EXPECT_NE(four.final.find("\n\n"), std::string::npos) << four.final;
    EXPECT_NE(four.final.find("m\n"), std::string::npos) << "the filler is kept: " << four.final;

    const auto five = clean("um so send it Monday, no, Tuesday.");
    EXPECT_TRUE(five.cleaned);
    EXPECT_EQ(five.chosen, "um so send it Tuesday.");
    EXPECT_EQ(five.stripped, "So send it Tuesday.");
    EXPECT_EQ(five.final, "So send it Tuesday.");

    EXPECT_FALSE(clean("um so send it Monday, no, Tuesday.", unknown, false).cleaned);
}

TEST(CleanupPipeline, LinesFromTheEngineArriveAsOneLine) {
    const auto stages = clean(" Send it Monday,\n no, Tuesday. \r\n");
    EXPECT_EQ(stages.heard, "Send it Monday, no, Tuesday.");
    EXPECT_EQ(stages.final, "Send it Tuesday.");
}

TEST(CleanupPipeline, SelfCorrectionSeesFillersAndCommasAsSpoken) {
    // The cue after a question is an answer, not a correction; fillers before punctuation go.
    const auto answer = clean("Is it Monday? No, Tuesday. um ok then.");
    EXPECT_EQ(answer.chosen, answer.heard);
    EXPECT_EQ(answer.stripped, "Is it Monday? No, Tuesday. Ok then.");

    EXPECT_EQ(clean("Buy milk. Scratch that. Buy bread, uh, and eggs um.").stripped,
              "Buy bread and eggs.");
    EXPECT_EQ(clean("Call Anna, sorry, Maria, about the deck.").final,
              "Call Maria, about the deck.");
}

TEST(CleanupPipeline, AppsDecideContextAndGroup) {
    const auto mail =
        clean("send the notes today", ScreenContext("Google Chrome", WritingContext::email));
    EXPECT_EQ(mail.writing, WritingContext::email);
    EXPECT_EQ(mail.group, AppGroup::email);
    EXPECT_EQ(mail.final, "Send the notes today.");

    const auto chat = clean("send the notes today", ScreenContext("Slack"));
    EXPECT_EQ(chat.writing, WritingContext::chat);
    EXPECT_EQ(chat.group, AppGroup::work);
}

TEST(CleanupPipeline, RawModeStillLaysOutAndExpandsSnippets) {
    const std::vector<Snippet> snippets = {Snippet::make("sig", "Best, Ann.")};
    const auto stages = run("um thanks new paragraph sig", unknown, false, false,
                            WritingStyle::polished, snippets, {});
    EXPECT_FALSE(stages.cleaned);
    EXPECT_EQ(stages.stripped, "um thanks new paragraph sig");
    EXPECT_EQ(stages.laidOut, "Um thanks\n\nSig");
    EXPECT_EQ(stages.final, "Um thanks\n\nBest, Ann.");
}

TEST(CleanupPipeline, SnippetsKeepTheirCapitalsUnderTheLowercaseStyle) {
    const std::vector<Snippet> snippets = {Snippet::make("my sig", "Best, Ann.")};
    const auto stages = run("Please sign it with my sig.", unknown, true, false,
                            WritingStyle::lowercase, snippets, {});
    EXPECT_EQ(stages.styled, "please sign it with my sig");
    EXPECT_EQ(stages.final, "please sign it with Best, Ann.");
}

TEST(CleanupPipeline, ASecureFieldSkipsEveryFormattingStage) {
    const std::vector<Snippet> snippets = {Snippet::make("sig", "Best, Ann.")};
    const auto stages = run("um my new paragraph password is sig", ScreenContext("Thunderbird"),
                            true, true, WritingStyle::lowercase, snippets, {});
    EXPECT_EQ(stages.stripped, "My new paragraph password is sig");
    EXPECT_EQ(stages.laidOut, stages.stripped);
    EXPECT_EQ(stages.styled, stages.stripped);
    EXPECT_EQ(stages.final, stages.stripped);
}

TEST(CleanupPipeline, TheOnDeviceEditIsUsedOnlyWhenFaithful) {
    const auto run_ = [](std::string_view transcript, std::optional<std::string> candidate,
                         bool cleanup = true) {
        return run(transcript, unknown, cleanup, false, WritingStyle::polished, none,
                   CleanupPipeline::fixed(candidate));
    };
    const auto faithful = run_("um so I I think we should go", "So I think we should go.");
    EXPECT_TRUE(faithful.usedModel);
    EXPECT_FALSE(faithful.refusedCandidate);
    EXPECT_EQ(faithful.chosen, "So I think we should go.");

    const auto rephrased = run_("um so I I think we should go", "Sure! Let's go.");
    EXPECT_FALSE(rephrased.usedModel);
    EXPECT_TRUE(rephrased.refusedCandidate);
    EXPECT_EQ(rephrased.chosen, "um so I I think we should go");

    // Without the cleanup stage the candidate is never consulted.
    const auto raw = run_("um so I I think we should go", "So I think we should go.", false);
    EXPECT_FALSE(raw.usedModel);
    EXPECT_FALSE(raw.refusedCandidate);
    EXPECT_EQ(raw.chosen, raw.heard);
}

TEST(CleanupPipeline, AdversarialTextStillFinishes) {
    std::string text;
    for (int i = 0; i < 50; ++i) {
        text += "no, wait, um, scratch that, I mean, new paragraph, no no, actually, ";
    }
    const auto stages =
        run(text + "done.", ScreenContext("Thunderbird"), true, false, WritingStyle::relaxed,
            {Snippet::make("no", "yes")}, CleanupPipeline::fixed(text));
    EXPECT_FALSE(stages.isEmpty);
    EXPECT_TRUE(stages.cleaned);
}

} // namespace
