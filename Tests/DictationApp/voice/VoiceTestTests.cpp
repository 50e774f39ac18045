// Voice tuning's recordings on real files and its search against a scripted speech engine.
#include "LogCapture.h"
#include "PostedWork.h"
#include "ScriptedSpeechEngine.h"
#include "TestSupport.h"
#include "WavEncoder.h"
#include "platform/Paths.h"
#include "storage/Stores.h"
#include "voice/VoiceTest.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

// The first five sentences read perfectly, but for the last word of the second.
constexpr const char* misheard = "I think we should ship the fix on Thirsty.";
constexpr int wordsOfFive = 44;

class VoiceTestTest : public testing::Test {
  protected:
    void SetUp() override {
        for (int k = 1; k <= VoiceTest::sentenceCount; ++k) {
            engine->usual[k] = std::string(VoiceTest::sentences[static_cast<std::size_t>(k - 1)]);
        }
    }

    // Recording k: k tenths of a second, told apart by its length.
    static std::vector<float> reading(int k) {
        return std::vector<float>(static_cast<std::size_t>(1600 * k), 0.1f * static_cast<float>(k));
    }
    void record(int count) {
        for (int k = test.index() + 1; count > 0; ++k, --count) {
            engine->recordings[WavEncoder::encode(reading(k))] = k;
            test.save(reading(k));
        }
    }
    bool tune() {
        test.tune(words);
        return posted.runUntil([this] { return !test.isTuning(); }, 30);
    }
    std::string wordFile() const { return readAll(paths.vocabulary()); }

    TempDir home;
    Paths paths{"/opt/parlwick/bin/parlwick", std::nullopt, Paths::Homes::under(home.path()),
                home / "work"};
    std::shared_ptr<ScriptedSpeechEngine> engine = std::make_shared<ScriptedSpeechEngine>();
    WordStore words{paths.vocabulary()};
    PostedWork posted;
    VoiceTest test{paths.voiceTest(), engine, posted.deliver()};
};

TEST_F(VoiceTestTest, OpeningMakesThePrivateFolderAndCountsConsecutiveRecordings) {
    test.open();
    EXPECT_EQ(modeOf(paths.voiceTest()), 0700u);
    EXPECT_EQ(test.index(), 0);
    EXPECT_EQ(test.sentence(), VoiceTest::sentences[0]);

    std::filesystem::permissions(paths.voiceTest(), std::filesystem::perms(0755));
    for (const char* name : {"01.wav", "02.wav", "03.wav", "05.wav", "04.txt"}) {
        writeAll(paths.voiceTest() / name, "x");
    }
    test.open();
    EXPECT_EQ(modeOf(paths.voiceTest()), 0700u) << "an existing folder is tightened";
    EXPECT_EQ(test.index(), 3) << "counting stops at the first missing recording";
    EXPECT_EQ(test.status(), "");
}

TEST_F(VoiceTestTest, AFolderThatCannotBeMadeIsReportedAndTheRecordingsStillCounted) {
    writeAll(paths.support(), "a file where the support folder belongs");
    test.open();
    EXPECT_EQ(test.status().rfind("Couldn't make the folder: ", 0), 0u) << test.status();
    EXPECT_EQ(test.index(), 0);

    test.save(reading(1));
    EXPECT_EQ(test.status().rfind("Couldn't save: ", 0), 0u) << test.status();
    EXPECT_EQ(test.index(), 0) << "a failed save does not advance";
}

TEST_F(VoiceTestTest, SavingWritesPrivateRecordingsAndSentencesAndRedoOverwritesTheLast) {
    test.open();
    record(3);
    EXPECT_EQ(test.index(), 3);
    for (int k = 1; k <= 3; ++k) {
        const auto wav = test.file(k, "wav");
        EXPECT_EQ(readAll(wav), WavEncoder::encode(reading(k))) << k;
        EXPECT_EQ(readAll(test.file(k, "txt")),
                  VoiceTest::sentences[static_cast<std::size_t>(k - 1)]);
        EXPECT_EQ(modeOf(wav), 0600u);
        EXPECT_EQ(modeOf(test.file(k, "txt")), 0600u);
    }
    EXPECT_EQ(test.file(3, "wav").filename(), "03.wav");

    test.redoPrevious();
    EXPECT_EQ(test.index(), 2);
    EXPECT_EQ(test.sentence(), VoiceTest::sentences[2]);
    test.save(reading(7));
    EXPECT_EQ(test.index(), 3);
    EXPECT_EQ(readAll(test.file(3, "wav")), WavEncoder::encode(reading(7)));
    EXPECT_EQ(readAll(test.file(3, "txt")), VoiceTest::sentences[2]);
}

TEST_F(VoiceTestTest, TheThirtyFirstRecordingIsIgnored) {
    test.open();
    for (int k = 0; k < 31; ++k) {
        test.save({0.1f, 0.2f});
    }
    EXPECT_EQ(test.index(), 30);
    EXPECT_EQ(test.sentence(), "");
    EXPECT_TRUE(std::filesystem::exists(test.file(30, "txt")));
    EXPECT_FALSE(std::filesystem::exists(test.file(31, "wav")));
}

TEST_F(VoiceTestTest, AWordThatFixesEveryRecordingIsAddedAndShown) {
    LogCapture log;
    test.open();
    record(5);
    engine->usual[2] = misheard;
    engine->answers[{2, "thursday."}] = VoiceTest::sentences[1];

    ASSERT_TRUE(tune());
    ASSERT_TRUE(test.result());
    EXPECT_EQ(*test.result(), (TuneResult{wordsOfFive, 1, 0, {"thursday"}}));
    EXPECT_EQ(test.result()->summary(),
              "Wrong words went from 1 to 0 of 44. Added thursday to Words.");
    EXPECT_EQ(words.terms(), Words{"thursday"});
    EXPECT_EQ(wordFile(), "thursday\n");
    // The baseline, then the word on its own sentence with and without, then all five.
    EXPECT_EQ(engine->calls(), 5 + 2 + 5);
    EXPECT_EQ(engine->asked()[5], std::make_pair(2, std::string("thursday.")));
    EXPECT_EQ(engine->asked()[6], std::make_pair(2, std::string("")));
    EXPECT_TRUE(log.contains("tuning done: 12 transcriptions in ")) << log.text();
    EXPECT_EQ(log.text().find("Thirsty"), std::string::npos) << "no words in the log";
}

TEST_F(VoiceTestTest, AllRecordingsHeardRightChangeNothing) {
    test.open();
    record(5);
    ASSERT_TRUE(tune());
    ASSERT_TRUE(test.result());
    EXPECT_EQ(test.result()->summary(), "It heard all 44 words right. Nothing to fix.");
    EXPECT_EQ(engine->calls(), 5);
    EXPECT_TRUE(words.terms().empty());
    EXPECT_FALSE(std::filesystem::exists(paths.vocabulary()));
}

TEST_F(VoiceTestTest, AWordAlreadyListedIsNeverTried) {
    words.save({"Thursday"});
    test.open();
    record(5);
    engine->usual[2] = misheard; // the list does not help this time

    ASSERT_TRUE(tune());
    EXPECT_EQ(engine->calls(), 5) << "only the baseline";
    for (const auto& [recording, prompt] : engine->asked()) {
        EXPECT_EQ(prompt, "Thursday.");
    }
    EXPECT_EQ(test.result()->summary(),
              "1 of 44 words were wrong, and no added word fixed them. Nothing was changed.");
    EXPECT_EQ(words.terms(), Words{"Thursday"});
}

TEST_F(VoiceTestTest, AWordThatFixesItsSentenceButNotTheTotalIsNotAdded) {
    test.open();
    record(5);
    engine->usual[2] = misheard;
    engine->answers[{2, "thursday."}] = VoiceTest::sentences[1];
    engine->answers[{1, "thursday."}] = "Can you send me the latest draft before brunch?";

    ASSERT_TRUE(tune());
    EXPECT_EQ(engine->calls(), 5 + 2 + 5);
    EXPECT_EQ(*test.result(), (TuneResult{wordsOfFive, 1, 1, {}}));
    EXPECT_TRUE(words.terms().empty());
}

TEST_F(VoiceTestTest, AtMostTwelveCandidatesAreTriedWithProgressShown) {
    test.open();
    record(5);
    for (int k = 1; k <= 5; ++k) {
        engine->usual[k] = "";
    }
    test.tune(words);
    EXPECT_TRUE(test.isTuning());
    EXPECT_EQ(test.result(), std::nullopt);
    ASSERT_TRUE(posted.runUntil([this] { return test.progress().done == 5; }, 30));
    EXPECT_EQ(test.progressText(), "Checking 6 of 89…") << "five, then twelve tries of seven";
    ASSERT_TRUE(posted.runUntil([this] { return !test.isTuning(); }, 30));
    // No candidate helps its own sentence, so each costs two transcriptions.
    EXPECT_EQ(engine->calls(), 5 + 12 * 2);
    EXPECT_EQ(test.result()->before, 44);
    EXPECT_EQ(test.progressText(), "");
}

TEST_F(VoiceTestTest, AFailedTranscriptionLeavesTheListAndSaysSo) {
    LogCapture log;
    words.save({"Kubernetes"});
    test.open();
    record(5);
    engine->usual[2] = misheard;
    engine->answers[{2, "Kubernetes, thursday."}] = VoiceTest::sentences[1];
    engine->failAt = 8;

    ASSERT_TRUE(tune());
    EXPECT_EQ(test.status(), "Couldn't check your recordings.");
    EXPECT_EQ(test.result(), std::nullopt);
    EXPECT_EQ(words.terms(), Words{"Kubernetes"});
    EXPECT_TRUE(log.contains("tuning failed: AppError")) << log.text();
}

TEST_F(VoiceTestTest, StoppingMidRunChangesNothingAndShowsNoResult) {
    test.open();
    record(5);
    engine->usual[2] = misheard;
    engine->answers[{2, "thursday."}] = VoiceTest::sentences[1];
    engine->holdAt = 6;

    test.tune(words);
    ASSERT_TRUE(engine->waitForCall(6));
    test.stop();
    engine->release();
    ASSERT_TRUE(posted.runUntil([this] { return !test.isTuning(); }, 30));
    EXPECT_EQ(engine->calls(), 6) << "the run ends at the next transcription";
    EXPECT_EQ(test.result(), std::nullopt);
    EXPECT_EQ(test.status(), "");
    EXPECT_TRUE(words.terms().empty());
}

TEST_F(VoiceTestTest, ChosenWordsJoinTheListAsItIsWhenTheRunEnds) {
    test.open();
    record(5);
    engine->usual[2] = misheard;
    engine->answers[{2, "thursday."}] = VoiceTest::sentences[1];
    engine->answers[{2, "Kubernetes, thursday."}] = VoiceTest::sentences[1];
    engine->holdAt = 3;

    test.tune(words);
    ASSERT_TRUE(engine->waitForCall(3));
    words.save({"Kubernetes", "Thursday"}); // edited meanwhile, with the word itself
    engine->release();
    ASSERT_TRUE(posted.runUntil([this] { return !test.isTuning(); }, 30));
    EXPECT_EQ(test.result()->added, Words{"thursday"});
    EXPECT_EQ(words.terms(), (Words{"Kubernetes", "Thursday"})) << "added once, ignoring case";

    words.save({"Kubernetes"});
    ASSERT_TRUE(tune());
    EXPECT_EQ(words.terms(), (Words{"Kubernetes", "thursday"}));
}

TEST_F(VoiceTestTest, AnUnreadableWordListOrARunningTuneStartsNothing) {
    writeAll(paths.vocabulary(), "caf\xe9\n");
    words.load();
    ASSERT_TRUE(words.problem());
    test.open();
    record(5);
    test.tune(words);
    EXPECT_FALSE(test.isTuning());
    EXPECT_EQ(engine->calls(), 0);

    writeAll(paths.vocabulary(), "");
    words.load();
    engine->holdAt = 1;
    test.tune(words);
    ASSERT_TRUE(engine->waitForCall(1));
    test.tune(words);
    test.redoPrevious();
    EXPECT_EQ(test.index(), 5) << "no redo while tuning";
    engine->release();
    ASSERT_TRUE(posted.runUntil([this] { return !test.isTuning(); }, 30));
    EXPECT_EQ(engine->calls(), 5) << "one run only";
}

TEST_F(VoiceTestTest, AMissingRecordingIsSkipped) {
    test.open();
    record(5);
    std::filesystem::remove(test.file(4, "wav"));
    ASSERT_TRUE(tune());
    EXPECT_EQ(engine->calls(), 4);
    EXPECT_EQ(test.result()->words, wordsOfFive - 8);
}

TEST(TuneResult, SummaryTexts) {
    EXPECT_EQ((TuneResult{12, 0, 0, {}}).summary(), "It heard all 12 words right. Nothing to fix.");
    EXPECT_EQ((TuneResult{1234, 7, 7, {}}).summary(),
              "7 of 1234 words were wrong, and no added word fixed them. Nothing was changed.");
    EXPECT_EQ((TuneResult{90, 9, 4, {"sarah", "brian tomorrow"}}).summary(),
              "Wrong words went from 9 to 4 of 90. Added sarah, brian tomorrow to Words.");
}

} // namespace
