#include "OffscreenWidgets.h"
#include "ui/Motion.h"
#include "ui/Pill.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QImage>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

class PillTest : public OffscreenWidgets {
  protected:
    static void pump(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
};

TEST_F(PillTest, LevelsAreASlidingWindowOfTheLastFourteen) {
    Pill pill;
    for (int i = 1; i <= 20; ++i) {
        pill.setLevel(static_cast<float>(i) / 100);
    }
    const auto& levels = pill.model().levels();
    ASSERT_EQ(levels.size(), 14u);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        EXPECT_FLOAT_EQ(levels[i], static_cast<float>(i + 7) / 100);
    }
    pill.listening();
    EXPECT_EQ(pill.model().levels(), (std::array<float, 14>{}));
}

TEST_F(PillTest, ListeningClearsHintAndWordsAndShowsWithoutFocus) {
    Pill pill;
    pill.model().setHint("Hands-free");
    pill.model().setWords("so far");
    pill.listening();
    EXPECT_EQ(pill.model().state(), PillModel::State::listening);
    EXPECT_TRUE(pill.model().hint().isEmpty());
    EXPECT_TRUE(pill.model().words().isEmpty());
    EXPECT_TRUE(pill.panel().isVisible());
    EXPECT_TRUE(pill.panel().windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(pill.panel().windowFlags() & Qt::WindowTransparentForInput);
    EXPECT_TRUE(pill.panel().windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(pill.panel().size(), QSize(520, 64));
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
}

TEST_F(PillTest, AnErrorHidesAfterThreeSecondsAndANewErrorRestartsThePeriod) {
    Pill pill;
    pill.error("Can't use the microphone");
    EXPECT_EQ(pill.model().state(), PillModel::State::error);
    EXPECT_EQ(pill.model().message(), "Can't use the microphone");
    EXPECT_TRUE(pill.hideTimer().isActive());
    pump(400);
    pill.error("Couldn't transcribe that");
    EXPECT_GT(pill.hideTimer().remainingTime(), 2800);
    // Showing another state cancels the pending hide.
    pill.working();
    EXPECT_FALSE(pill.hideTimer().isActive());
    EXPECT_TRUE(pill.panel().isVisible());
    pill.hide();
    EXPECT_FALSE(pill.panel().isVisible());
}

TEST_F(PillTest, PlacedCentredTwentyFourAboveTheBottomOfTheScreen) {
    EXPECT_EQ(Pill::placement(QRect(0, 0, 1280, 800)), QRect(380, 712, 520, 64));
    // A second screen to the right, with a panel taking 30 at its bottom.
    EXPECT_EQ(Pill::placement(QRect(1280, 0, 1920, 1050)), QRect(1280 + 700, 962, 520, 64));
}

TEST_F(PillTest, AHintOrMessageGetsTheRoomItNeedsWithinTheScreen) {
    Pill pill;
    pill.listening();
    const QRect screen = pill.panel().screen()->availableGeometry();
    EXPECT_EQ(pill.panel().width(), Pill::width) << "nothing to read yet";
    const QString hint = "Hands-free. Tap right Control to finish, esc to cancel, or wait";
    pill.model().setHint(hint);
    QFont caption = pill.panel().font();
    caption.setPointSizeF(12);
    // The level bars come first: the hint needs their room and its own.
    EXPECT_GE(pill.panel().width(),
              26 + PillModel::levelCount * 6 + QFontMetrics(caption).horizontalAdvance(hint));
    EXPECT_TRUE(screen.contains(pill.panel().geometry()));

    pill.error(QString("Couldn't reach the microphone ").repeated(20));
    EXPECT_EQ(pill.panel().width(), screen.width() - 48) << "never wider than the screen";
    pill.listening();
    EXPECT_EQ(pill.panel().width(), Pill::width);
}

TEST_F(PillTest, ALevelChangeEasesOutOverATenthOfASecond) {
    struct Case {
        float from;
        float to;
        qint64 milliseconds;
        float shown;
    };
    const std::vector<Case> cases{
        {0, 1, 0, 0},   {0, 1, 40, 0.784f}, {0, 1, 100, 1},
        {0, 1, 250, 1}, {1, 0, 50, 0.125f}, {0.2f, 0.2f, 30, 0.2f},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(Pill::easedLevel(c.from, c.to, c.milliseconds), c.shown, 1e-4)
            << c.from << " to " << c.to << " after " << c.milliseconds << " ms";
    }
}

TEST_F(PillTest, WithLessMotionALevelShowsAtOnce) {
    Motion::setReduced(true);
    Pill pill;
    pill.listening();
    pill.setLevel(1.0f);
    EXPECT_FLOAT_EQ(pill.shownLevels().back(), 1.0f);
    Motion::setReduced(false);
}

TEST_F(PillTest, WithAnOverlayEachFrameGoesThereAsAPictureAndHidingTakesItAway) {
    Pill pill;
    std::vector<QImage> frames;
    int hides = 0;
    pill.setOverlay([&](const QImage* picture, int scale, int bottom) {
        if (!picture) {
            ++hides;
            return;
        }
        EXPECT_GE(scale, 1);
        EXPECT_EQ(bottom, 24);
        frames.push_back(*picture);
    });
    pill.listening();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(pill.panel().isVisible()) << "the overlay shows it, not a window";
    const QImage& first = frames.front();
    EXPECT_EQ(first.size(), QSize(Pill::width, Pill::height) * first.devicePixelRatio());
    EXPECT_EQ(qAlpha(first.pixel(0, 0)), 0) << "the corners are clear";
    EXPECT_GT(qAlpha(first.pixel(first.width() / 2, first.height() / 2)), 200);
    // Frames follow while it shows; an error picture, then nothing once hidden.
    QElapsedTimer waited;
    waited.start();
    while (frames.size() < 3 && waited.elapsed() < 2000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    EXPECT_GE(frames.size(), 3u);
    pill.hide();
    EXPECT_EQ(hides, 1);
    const auto shown = frames.size();
    QApplication::processEvents();
    EXPECT_EQ(frames.size(), shown);
}

TEST_F(PillTest, EveryStateDraws) {
    Pill pill;
    pill.listening();
    pill.setLevel(0.8f);
    pill.model().setWords("first buy milk");
    QImage listening = pill.panel().grab().toImage();
    pill.working();
    QImage working = pill.panel().grab().toImage();
    pill.error("No speech found");
    QImage failed = pill.panel().grab().toImage();
    EXPECT_FALSE(listening.isNull());
    EXPECT_NE(listening, working);
    EXPECT_NE(working, failed);
    EXPECT_NE(listening, failed);
}

TEST_F(PillTest, APillFollowsTheDictationState) {
    DictationState state;
    Pill pill(state);
    EXPECT_FALSE(pill.panel().isVisible());

    state.listen();
    state.setLevel(0.5f);
    state.setWords("so far");
    EXPECT_TRUE(pill.panel().isVisible());
    EXPECT_EQ(pill.model().state(), PillModel::State::listening);
    EXPECT_EQ(pill.model().levels().back(), 0.5f);
    EXPECT_EQ(pill.model().words(), "so far");
    state.setHint("Hands-free");
    EXPECT_EQ(pill.model().hint(), "Hands-free");

    state.work();
    EXPECT_EQ(pill.model().state(), PillModel::State::working);
    EXPECT_TRUE(pill.model().words().isEmpty());
    state.finish();
    EXPECT_FALSE(pill.panel().isVisible());

    state.fail("Can't use the microphone");
    EXPECT_EQ(pill.model().state(), PillModel::State::error);
    EXPECT_EQ(pill.model().message(), "Can't use the microphone");
    EXPECT_TRUE(pill.hideTimer().isActive());
    pill.hide();
    state.fail("Can't use the microphone");
    EXPECT_TRUE(pill.panel().isVisible()) << "the same error again shows again";
}

} // namespace
