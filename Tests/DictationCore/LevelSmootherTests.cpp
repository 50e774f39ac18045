#include "LevelSmoother.h"

#include <gtest/gtest.h>

namespace {

TEST(LevelSmoother, RisesFastFallsSlowlyAndNeverOvershoots) {
    struct Case {
        const char* what;
        double from;
        double to;
        double afterOneFrame;
    };
    const std::vector<Case> cases{
        {"a louder sound", 0.0, 1.0, 0.45},
        {"a quieter one", 1.0, 0.0, 0.9},
        {"the same", 0.3, 0.3, 0.3},
    };
    for (const auto& c : cases) {
        LevelSmoother smoother;
        for (int i = 0; i < 200; ++i) {
            smoother.step(c.from);
        }
        EXPECT_NEAR(smoother.displayed(), c.from, 1e-9) << c.what;
        EXPECT_NEAR(smoother.step(c.to), c.afterOneFrame, 1e-9) << c.what;
        double last = smoother.displayed();
        for (int frame = 0; frame < 100; ++frame) {
            const double now = smoother.step(c.to);
            EXPECT_LE(std::abs(c.to - now), std::abs(c.to - last) + 1e-12) << c.what;
            EXPECT_TRUE(c.to >= c.from ? now <= c.to : now >= c.to) << c.what << " overshot";
            last = now;
        }
        EXPECT_NEAR(last, c.to, 1e-3) << c.what;
    }
}

} // namespace
