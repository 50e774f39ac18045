// The setup model over a real sound server (a private PulseAudio with a virtual microphone),
// with the poll driven by hand and the worker's answers run when the test says.
#include "AudioTools.h"
#include "ManualScheduler.h"
#include "PostedWork.h"
#include "TestSupport.h"
#include "setup/DesktopChecks.h"
#include "setup/SetupModel.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

using Microphone = SetupModel::Microphone;

// A model over `checks` with settings and model files in a private folder.
struct World {
    explicit World(SetupModel::Checks checks, bool modelsThere = true) {
        for (const char* name : {"vad.bin", "speech.bin"}) {
            models.push_back(dir / name);
            if (modelsThere) {
                writeAll(models.back(), "model");
            }
        }
        model = std::make_unique<SetupModel>(key, settings, std::move(checks), models, scheduler,
                                             posted.deliver());
    }
    // One poll tick, and its answer from the worker.
    void tick() {
        scheduler.advanceBy(SetupModel::pollSeconds);
        int before = answers;
        posted.runUntil([&] { return answers > before; }, 10);
    }

    TempDir dir;
    Settings settings{dir / "settings.ini"};
    RecordKey key{HotKey::rightOption, &settings};
    std::vector<std::filesystem::path> models;
    ManualScheduler scheduler;
    PostedWork posted;
    std::unique_ptr<SetupModel> model;
    int answers = 0;
};

// The desktop's part granted, so only the microphone decides.
SetupModel::Checks withRealMicrophone() {
    SetupModel::Checks checks = DesktopChecks::make("parlwick-tests");
    checks.missingDesktopAccess = [] { return std::string(); };
    checks.missingFieldChecks = [] { return std::string(); };
    return checks;
}

class SetupOverRealSound : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = missingPrograms({"pulseaudio", "pactl", "pacat", "parec"});
            !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        server = std::make_unique<PulseServer>(dir.path());
    }
    // Counts the answers that reach the model, so a tick can wait for its own.
    static void count(World& world) {
        QObject::connect(world.model.get(), &SetupModel::changed, [&world] { ++world.answers; });
    }

    TempDir dir;
    std::unique_ptr<PulseServer> server;
};

TEST_F(SetupOverRealSound, ARealInputIsGrantedAndTheFirstPollStoresItAfterSetupShowedOnce) {
    World world(withRealMicrophone());
    EXPECT_EQ(world.model->microphone(), Microphone::granted);
    EXPECT_TRUE(world.model->hasSoundServer());
    EXPECT_TRUE(world.model->isComplete());
    EXPECT_EQ(world.model->stepsDone(), 3);
    // The sound server's own description of the input, for the windows to name it by.
    EXPECT_NE(world.model->microphoneName(), "");
    // Opening the app now shows the setup never finished, with every step done.
    EXPECT_FALSE(world.settings.get(SettingKeys::hasCompletedSetup));
    EXPECT_TRUE(world.model->isNeeded());
    world.tick();
    EXPECT_TRUE(world.settings.get(SettingKeys::hasCompletedSetup));
    EXPECT_FALSE(world.model->isNeeded());
}

TEST_F(SetupOverRealSound, OnlyTheMonitorOfAnOutputIsDeniedAndSetupShowsAgain) {
    World world(withRealMicrophone());
    count(world);
    world.tick();
    ASSERT_TRUE(world.settings.get(SettingKeys::hasCompletedSetup));
    ASSERT_EQ(server->pactl({"unload-module", "module-remap-source"}).status, 0);
    world.tick();
    EXPECT_EQ(world.model->microphone(), Microphone::denied);
    EXPECT_TRUE(world.model->hasSoundServer()) << "the server answers; it has no input";
    EXPECT_FALSE(world.model->isComplete());
    // Stored once, never taken back; the revoked microphone still brings setup back.
    EXPECT_TRUE(world.settings.get(SettingKeys::hasCompletedSetup));
    EXPECT_TRUE(world.model->isNeeded());
    EXPECT_TRUE(SetupModel::showsSetup(true, world.model->isNeeded(), nullptr));

    // Plugged in again: granted at the next tick.
    ASSERT_EQ(server
                  ->pactl({"load-module", "module-remap-source", "source_name=vmic",
                           "master=vmic_sink.monitor"})
                  .status,
              0);
    ASSERT_EQ(server->pactl({"set-default-source", "vmic"}).status, 0);
    world.tick();
    EXPECT_EQ(world.model->microphone(), Microphone::granted);
    EXPECT_FALSE(world.model->isNeeded());
}

TEST_F(SetupOverRealSound, AMonitorChosenAsDefaultIsDenied) {
    ASSERT_EQ(server->pactl({"set-default-source", "vmic_sink.monitor"}).status, 0);
    World world(withRealMicrophone());
    EXPECT_EQ(world.model->microphone(), Microphone::denied);
    EXPECT_TRUE(world.model->hasSoundServer());
    EXPECT_FALSE(world.settings.get(SettingKeys::hasCompletedSetup));
}

TEST_F(SetupOverRealSound, AServerThatGoesAwayIsDenied) {
    World world(withRealMicrophone());
    count(world);
    server->kill();
    world.tick();
    EXPECT_EQ(world.model->microphone(), Microphone::denied);
    EXPECT_FALSE(world.model->hasSoundServer());
}

TEST(SetupWithoutSound, NoServerIsDenied) {
    TempDir dir;
    ::setenv("PULSE_SERVER", ("unix:" + (dir / "no-server").string()).c_str(), 1);
    World world(withRealMicrophone());
    EXPECT_EQ(world.model->microphone(), Microphone::denied);
    EXPECT_FALSE(world.model->hasSoundServer());
    EXPECT_TRUE(world.model->isNeeded());
    EXPECT_FALSE(world.settings.get(SettingKeys::hasCompletedSetup));
}

// Checks of the test's own, for the order of things.
struct Scripted {
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<bool>> granted = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<bool>> hold = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::string> missingAccess = std::make_shared<std::string>();

    SetupModel::Checks checks() const {
        return {[calls = calls, granted = granted, hold = hold] {
                    ++*calls;
                    while (*hold) {
                        std::this_thread::yield();
                    }
                    return SetupModel::MicrophoneCheck{
                        *granted ? Microphone::granted : Microphone::denied, true, {}};
                },
                [] { return std::string(); }, [missing = missingAccess] { return *missing; }};
    }
};

TEST(SetupPoll, AtMostOneMicrophoneCheckIsOutAndTheDesktopIsReadEveryTick) {
    Scripted script;
    World world(script.checks());
    ASSERT_EQ(*script.calls, 1) << "the first check, before the constructor returns";
    *script.hold = true;
    *script.granted = false;
    *script.missingAccess = "the X server has no XTEST extension";
    world.scheduler.advanceBy(1.0);
    EXPECT_FALSE(world.model->accessibility()) << "read on the main thread at the tick";
    world.scheduler.advanceBy(1.0);
    world.scheduler.advanceBy(1.0);
    *script.hold = false;
    world.posted.runUntil([&] { return world.model->microphone() == Microphone::denied; }, 10);
    EXPECT_EQ(*script.calls, 2) << "ticks while a check is out start none";
    *script.missingAccess = "";
    world.scheduler.advanceBy(1.0);
    EXPECT_TRUE(world.model->accessibility());
    world.posted.runUntil([&] { return *script.calls == 3; }, 10);
}

TEST(SetupPoll, DownloadStatesDecideTheThirdStep) {
    Scripted script;
    World world(script.checks(), false);
    EXPECT_EQ(world.model->download().state, SetupModel::Download::State::waiting);
    EXPECT_FALSE(world.settings.get(SettingKeys::hasCompletedSetup));
    EXPECT_EQ(world.model->stepsDone(), 2);
    world.model->setDownload(SetupModel::Download::progress(140));
    EXPECT_EQ(world.model->download().percent, 100);
    world.model->setDownload(SetupModel::Download::of(SetupModel::Download::State::failed, 0));
    EXPECT_FALSE(world.model->isComplete());
    for (const auto& file : world.models) {
        writeAll(file, "model");
    }
    world.model->setDownload(SetupModel::Download::of(SetupModel::Download::State::done, 0));
    EXPECT_TRUE(world.model->isComplete());
    EXPECT_TRUE(world.settings.get(SettingKeys::hasCompletedSetup));
    // A model file gone later brings setup back even though setup was completed.
    std::filesystem::remove(world.models.back());
    EXPECT_TRUE(world.model->isNeeded());
}

TEST(SetupPoll, AnswersArrivingAfterTheModelIsGoneAreDropped) {
    Scripted script;
    auto world = std::make_unique<World>(script.checks());
    world->scheduler.advanceBy(1.0);
    // The model goes (joining its worker) while its answer waits to be delivered: running the
    // answer must touch nothing (the sanitizers watch).
    world->model.reset();
    EXPECT_EQ(*script.calls, 2);
    world->posted.runUntil([] { return false; }, 0.2);
}

TEST(SetupWindowChoice, ShowSetupOnlyForTheAppWhenNeededOrAskedWithOne) {
    struct Row {
        bool isApp;
        bool needed;
        const char* showSetup;
        bool showsSetup;
    };
    for (const Row& row : std::initializer_list<Row>{
             {true, true, nullptr, true},
             {true, false, nullptr, false},
             {true, false, "1", true},
             {true, false, "0", false},
             {true, false, "true", false},
             {true, false, "", false},
             {true, false, " 1", false},
             {true, false, "11", false},
             {false, true, "1", false},
             {false, false, "1", false},
         }) {
        EXPECT_EQ(SetupModel::showsSetup(row.isApp, row.needed, row.showSetup), row.showsSetup)
            << row.isApp << " " << row.needed << " " << (row.showSetup ? row.showSetup : "(unset)");
    }
}

} // namespace
