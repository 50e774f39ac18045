// The speech model as the settings offer it: a switch fetched from a real web server while the
// current model stays in use, removal, and measuring again (the rows: MainWindowTests).
#include "HttpServers.h"
#include "LogCapture.h"
#include "ManualScheduler.h"
#include "PostedWork.h"
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "models/ModelChoice.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view turbo = "ggml-large-v3-turbo-q5_0.bin";
constexpr std::string_view smallEnglish = "ggml-small.en-q8_0.bin";
constexpr std::string_view baseEnglish = "ggml-base.en-q8_0.bin";

class ModelChoiceTest : public testing::Test {
  protected:
    void SetUp() override {
        try {
            server = std::make_unique<WebServer>(0);
        } catch (const std::exception& error) {
            GTEST_SKIP() << "nginx did not start: " << error.what();
        }
        fs::create_directories(folder);
    }

    // Serves a stand-in for each catalog model: a few bytes, with their own digest.
    ModelDownloader::Model address(const SpeechModels::Model& model) {
        const fs::path served = server->root() / model.file;
        if (!fs::exists(served)) {
            writeAll(served, "weights of " + std::string(model.file));
        }
        const std::string digest =
            runProcess({"/usr/bin/sha256sum", served.string()}).out.substr(0, 64);
        return {std::string(model.file), server->address() + "/" + std::string(model.file),
                corrupt ? std::string(64, '0') : digest, 1 << 20};
    }

    std::unique_ptr<ModelChoice> make(const std::string& language = "en") {
        return std::make_unique<ModelChoice>(
            settings,
            ModelChoice::Parts{
                folder, language,
                [this](const SpeechModels::Model& model) { return address(model); },
                [this](const fs::path& model) { used.push_back(model); },
                [this](const std::vector<SpeechModels::Model>& models, const std::atomic<bool>&) {
                    measuredModels = models.size();
                    return measured;
                },
                scheduler, posted.deliver()});
    }

    TempDir dir;
    fs::path folder = dir / "models";
    Settings settings{dir / "settings.ini"};
    std::unique_ptr<WebServer> server;
    ManualScheduler scheduler;
    PostedWork posted;
    std::vector<fs::path> used;
    bool corrupt = false;
    std::vector<SpeechModels::Timing> measured;
    std::size_t measuredModels = 0;
};

TEST_F(ModelChoiceTest, ASwitchIsFetchedWhileTheCurrentModelWorksThenTakenUp) {
    const auto choice = make();
    int changes = 0;
    QObject::connect(choice.get(), &ModelChoice::changed, [&] { ++changes; });
    choice->choose(std::string(baseEnglish));
    ASSERT_TRUE(choice->fetching());
    EXPECT_EQ(*choice->fetching(), baseEnglish);
    // Until the file is in place, dictation keeps the model it has.
    EXPECT_EQ(choice->chosen().file, turbo);
    EXPECT_TRUE(used.empty());
    ASSERT_TRUE(posted.runUntil([&] { return !choice->fetching(); }, 20));
    EXPECT_EQ(choice->failure(), "");
    EXPECT_EQ(choice->chosen().file, baseEnglish);
    EXPECT_EQ(used, std::vector<fs::path>{folder / baseEnglish});
    EXPECT_EQ(readAll(folder / baseEnglish), "weights of ggml-base.en-q8_0.bin");
    EXPECT_GE(changes, 2);

    // And back: the file is here, nothing is fetched again.
    writeAll(folder / std::string(turbo), "weights");
    const auto before = server->requests().size();
    choice->choose(std::string(turbo));
    ASSERT_TRUE(posted.runUntil([&] { return !choice->fetching(); }, 20));
    EXPECT_EQ(choice->chosen().file, turbo);
    EXPECT_EQ(used.back(), folder / turbo);
    EXPECT_EQ(server->requests().size(), before);
}

TEST_F(ModelChoiceTest, AFailedFetchKeepsTheCurrentModelAndSaysSo) {
    corrupt = true;
    const auto choice = make();
    LogCapture log;
    choice->choose(std::string(smallEnglish));
    ASSERT_TRUE(posted.runUntil([&] { return !choice->fetching(); }, 20));
    EXPECT_EQ(choice->failure(),
              "The download didn't finish. Check your connection and try again.");
    EXPECT_EQ(choice->chosen().file, turbo);
    EXPECT_TRUE(used.empty());
    EXPECT_FALSE(fs::exists(folder / smallEnglish));
    EXPECT_TRUE(log.contains("model download failed: ")) << log.text();

    // Try again fetches the same model, which arrives this time.
    corrupt = false;
    choice->tryAgain();
    ASSERT_TRUE(choice->fetching());
    ASSERT_TRUE(posted.runUntil([&] { return !choice->fetching(); }, 20));
    EXPECT_EQ(choice->failure(), "");
    EXPECT_EQ(choice->chosen().file, smallEnglish);
    EXPECT_EQ(used, std::vector<fs::path>{folder / smallEnglish});
}

TEST_F(ModelChoiceTest, OnlyAModelNotInUseIsRemovedAndOtherFilesAreLeftAlone) {
    const auto choice = make();
    for (const std::string_view file : {turbo, smallEnglish}) {
        writeAll(folder / std::string(file), "model");
    }
    writeAll(folder / "ggml-tiny.bin", "not ours");
    writeAll(dir / "settings.ini", "[General]\n");
    choice->remove(std::string(turbo));
    choice->remove(std::string(smallEnglish));
    choice->remove("ggml-tiny.bin");
    choice->remove("../settings.ini");
    EXPECT_TRUE(fs::exists(folder / turbo)) << "the model in use stays";
    EXPECT_FALSE(fs::exists(folder / smallEnglish));
    EXPECT_TRUE(fs::exists(folder / "ggml-tiny.bin"));
    EXPECT_TRUE(fs::exists(dir / "settings.ini"));
}

TEST_F(ModelChoiceTest, MeasuringAgainUpdatesTheTimesAndKeepsTheChoice) {
    measured = {{turbo, 6.4},
                {smallEnglish, 1.27},
                {"ggml-small-q8_0.bin", std::nullopt},
                {baseEnglish, 0.45}};
    const auto choice = make();
    choice->measureAgain();
    EXPECT_TRUE(choice->isMeasuring());
    ASSERT_TRUE(posted.runUntil([&] { return !choice->isMeasuring(); }, 10));
    EXPECT_EQ(measuredModels, 4u);
    const auto rows = choice->rows();
    EXPECT_EQ(rows[0].seconds, 6.4);
    EXPECT_EQ(rows[2].seconds, std::nullopt);
    EXPECT_EQ(rows[3].seconds, 0.45);
    EXPECT_EQ(choice->chosen().file, turbo);
    EXPECT_TRUE(used.empty());
}

} // namespace
