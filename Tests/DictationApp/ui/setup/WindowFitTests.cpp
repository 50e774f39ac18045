// The program's windows on small screens: the setup window and the main window (new, and
// with a frame kept from a larger screen) on Qt's offscreen platform set to 1366x768 and
// 1280x720, at 1x and 1.25x. Each screen runs in a process of its own (this program again),
// since a process has one set of screens.
#include "../window/WindowFixture.h"
#include "ProcessRunner.h"
#include "SetupWorld.h"
#include "ui/window/MainWindow.h"

#include <QScreen>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;

constexpr const char* reportVariable = "WINDOW_FIT_REPORT";

// Shows `window` and lets the platform frame it and the placement follow.
void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }
}

void report(std::ostream& out, const std::string& name, const QRect& frame) {
    out << name << ' ' << frame.x() << ' ' << frame.y() << ' ' << frame.width() << ' '
        << frame.height() << '\n';
}

// Run by the test below in a process of its own; skipped when run directly.
TEST(WindowFitProbe, ReportsTheFramesOfTheWindows) {
    const char* file = std::getenv(reportVariable);
    if (!file) {
        GTEST_SKIP() << "run by WindowFit with a screen of its choosing";
    }
    static int argc = 1;
    static char name[] = "window-fit";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    std::ofstream out(file);
    report(out, "area", QGuiApplication::primaryScreen()->availableGeometry());

    SetupWorld setup;
    setup.window->show();
    settle();
    report(out, "setup", setup.window->widget()->frameGeometry());

    WindowWorld world;
    {
        MainWindow window(*world.state, *world.parts, "1.0");
        window.show();
        settle();
        report(out, "main", window.widget()->frameGeometry());
        // As kept on a large screen: the default size, far from the top left.
        window.widget()->move(900, 500);
        window.widget()->resize(1040, 740);
        window.hide();
        settle();
    }
    MainWindow window(*world.state, *world.parts, "1.0");
    window.show();
    settle();
    report(out, "main with a kept frame", window.widget()->frameGeometry());
}

struct Screen {
    int width;
    int height;
    const char* scale;
};

TEST(WindowFit, EveryWindowsFrameStaysInsideTheScreensFreeArea) {
    const std::vector<Screen> screens{
        {1366, 768, "1"}, {1280, 720, "1"}, {1366, 768, "1.25"}, {1280, 720, "1.25"}};
    for (const auto& screen : screens) {
        const std::string what = std::to_string(screen.width) + "x" +
                                 std::to_string(screen.height) + " at " + screen.scale + "x";
        SCOPED_TRACE(what);
        TempDir dir;
        writeAll(dir / "screens.json",
                 R"({"windowFrameMargins": true, "screens": [{"name": "small", "x": 0, "y": 0, )"
                 R"("width": )" +
                     std::to_string(screen.width) + R"(, "height": )" +
                     std::to_string(screen.height) + "}]}");
        const auto probe = runProcess(
            {"/proc/self/exe", "--gtest_filter=WindowFitProbe.*"},
            {{"QT_QPA_PLATFORM", "offscreen:configfile=" + (dir / "screens.json").string()},
             {"QT_SCALE_FACTOR", screen.scale},
             {reportVariable, (dir / "frames").string()},
             {"HOME", dir.path().string()},
             {"XDG_CONFIG_HOME", (dir / "config").string()},
             {"XDG_DATA_HOME", (dir / "data").string()}});
        ASSERT_EQ(probe.status, 0) << probe.out << probe.err;
        std::istringstream lines(readAll(dir / "frames"));
        std::map<std::string, QRect> frames;
        for (std::string line; std::getline(lines, line);) {
            const auto numbers = line.find_last_of("abcdefghijklmnopqrstuvwxyz") + 1;
            std::istringstream values(line.substr(numbers));
            int x = 0, y = 0, w = 0, h = 0;
            values >> x >> y >> w >> h;
            frames[line.substr(0, numbers)] = QRect(x, y, w, h);
        }
        ASSERT_EQ(frames.size(), 4u) << readAll(dir / "frames");
        const QRect area = frames["area"];
        EXPECT_LE(area.height(), screen.height);
        for (const auto& [name, frame] : frames) {
            EXPECT_TRUE(area.contains(frame))
                << name << " at " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                << frame.height() << " in " << area.width() << "x" << area.height();
            EXPECT_GT(frame.height(), area.height() / 2) << name << " uses the room there is";
        }
    }
}

} // namespace
