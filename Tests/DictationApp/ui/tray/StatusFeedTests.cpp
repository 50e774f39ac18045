#include "WindowFixture.h"
#include "ui/tray/StatusFeed.h"

#include <functional>

namespace {

class StatusFeedTest : public WindowFixture {
  protected:
    DictationState dictation;
};

TEST_F(StatusFeedTest, StartsWithStartingUnlessThereIsAlreadyATextOrDictationIsReady) {
    {
        StatusFeed feed(*state, dictation);
        EXPECT_EQ(state->status(), "Starting…");
    }
    state->setStatus("Waiting for Accessibility permission");
    {
        StatusFeed feed(*state, dictation);
        EXPECT_EQ(state->status(), "Waiting for Accessibility permission");
    }
    state->setStatus("");
    state->setReady(true);
    StatusFeed feed(*state, dictation);
    EXPECT_EQ(state->status(), "");
}

TEST_F(StatusFeedTest, ErrorsCoverStartupTextsUntilTheNextRecordingOrStartupText) {
    StatusFeed feed(*state, dictation);
    struct Step {
        const char* what;
        std::function<void()> act;
        QString status;
    };
    const std::vector<Step> steps{
        {"waiting", [&] { feed.show(std::string("Waiting for Accessibility permission")); },
         "Waiting for Accessibility permission"},
        {"ready", [&] { feed.show(QString("Hold right Alt to talk")); }, "Hold right Alt to talk"},
        {"listening", [&] { dictation.listen(); }, "Hold right Alt to talk"},
        {"working", [&] { dictation.work(); }, "Hold right Alt to talk"},
        {"failed", [&] { dictation.fail("Couldn't transcribe that"); }, "Couldn't transcribe that"},
        {"idle after the error", [&] { dictation.finish(); }, "Couldn't transcribe that"},
        {"a second error", [&] { dictation.fail("No speech found"); }, "No speech found"},
        {"the next recording", [&] { dictation.listen(); }, "Hold right Alt to talk"},
        {"microphone", [&] { dictation.fail("Can't use the microphone"); },
         "Can't use the microphone"},
        {"a download under the error", [&] { feed.show(QString("Downloading speech model: 40%")); },
         "Downloading speech model: 40%"},
        {"done", [&] { dictation.finish(); }, "Downloading speech model: 40%"},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(state->status(), step.status) << step.what;
    }
}

TEST_F(StatusFeedTest, NoSpeechFoundNamesTheMicrophoneThatListened) {
    StatusFeed feed(*state, dictation);
    feed.show(QString("Hold right Alt to talk"));
    struct Case {
        QString microphone;
        QString error;
        QString status;
    };
    const std::vector<Case> cases{
        {"USB Headset", "No speech found", "No speech found (microphone: USB Headset)"},
        {"", "No speech found", "No speech found"},
        {"USB Headset", "Couldn't transcribe that", "Couldn't transcribe that"},
    };
    for (const auto& c : cases) {
        state->setMicrophoneName(c.microphone);
        dictation.listen();
        dictation.fail(c.error);
        EXPECT_EQ(state->status(), c.status);
    }
}

} // namespace
