// The setup window drawn by a real X server (Xvfb), light and dark and at twice the scale, kept
// for a reviewer in the build folder's screenshots/.
#include "Pictures.h"
#include "SetupWorld.h"
#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <cstdlib>

namespace fs = std::filesystem;

namespace {

struct DisplayApplication {
    DisplayApplication() : app(argc, argv) {}
    static inline int argc = 1;
    static inline char name[] = "setup-screenshots";
    static inline char* argv[] = {name, nullptr};
    QApplication app;
};

class SetupScreenshots : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* missing = std::getenv("PARLWICK_DESKTOP_MISSING")) {
            GTEST_SKIP() << "no desktop session for screenshots: " << missing;
        }
    }

    // Setup half done: the microphone found, the desktop closed, the model on its way.
    static fs::path take(Look look, const std::string& name) {
        SetupWorld world(false);
        world.answers->missingAccess = "the X server has no XTEST extension";
        world.settings.set(SettingKeys::look, look);
        world.model->setDownload(SetupModel::Download::progress(42));
        world.tick();
        world.window->show();
        QApplication::processEvents();
        const fs::path folder = PARLWICK_SCREENSHOTS;
        fs::create_directories(folder);
        const fs::path file = folder / (name + ".png");
        world.window->widget()->grab().save(QString::fromStdString(file.string()));
        return file;
    }
};

// The window's size in pixels at `scale`: its own, in as much of the screen as is free.
QSize fitted(int scale) {
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size() -
                       QSize(WindowPlacement::frameAllowance / 3, WindowPlacement::frameAllowance);
    return QSize(SetupWindow::width, SetupWindow::height).boundedTo(room) * scale;
}

TEST_F(SetupScreenshots, LightAndDark) {
    DisplayApplication display;
    const fs::path light = take(Look::light, "setup-light");
    const fs::path dark = take(Look::dark, "setup-dark");
    EXPECT_EQ(QImage(QString::fromStdString(light.string())).size(), fitted(1));
    EXPECT_GT(averageLightness(light), averageLightness(dark) + 40) << dark << " is not dark";
}

TEST_F(SetupScreenshots, AtTwiceTheScale) {
    ::setenv("QT_SCALE_FACTOR", "2", 1);
    DisplayApplication display;
    const fs::path file = take(Look::light, "setup-scale2-light");
    EXPECT_EQ(QImage(QString::fromStdString(file.string())).size(), fitted(2));
}

} // namespace
