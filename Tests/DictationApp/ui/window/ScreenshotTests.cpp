// Every section and settings tab, light and dark, drawn by a real X server (Xvfb) and kept as
// pictures for a reviewer in the build folder's screenshots/.
#include "Pictures.h"
#include "WindowFixture.h"
#include "ui/window/MainWindow.h"
#include "ui/window/MainWindowView.h"

#include <QImage>
#include <QPixmap>
#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// A widgets application on whatever display the desktop session gives, made before the world.
struct DisplayApplication {
    DisplayApplication() : app(argc, argv) {}
    static inline int argc = 1;
    static inline char name[] = "screenshots";
    static inline char* argv[] = {name, nullptr};
    QApplication app;
};

class Screenshots : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* missing = std::getenv("PARLWICK_DESKTOP_MISSING")) {
            GTEST_SKIP() << "no desktop session for screenshots: " << missing;
        }
    }

    // Some of everything, so no screen is drawn empty; dictations come in the order spoken.
    static void fill(WindowWorld& world) {
        const Timestamp now = world.clock->now();
        world.dictate("Remind me to call the dentist", now - std::chrono::hours(50), "Editor");
        world.dictate("The quarterly numbers look better than last year",
                      now - std::chrono::hours(26), "Thunderbird");
        world.dictate("Let's meet on Friday at three and bring the draft",
                      now - std::chrono::hours(1), "Slack");
        world.words->save({"Parlwick", "Lovelace"});
        world.snippets->addOrChange("my meeting link", "https://meet.example/room");
        if (const auto id = world.notes->addNote()) {
            world.notes->editNote(*id, "Ideas for the talk on Thursday");
        }
        world.state->profile().setName("Ada Lovelace");
        world.offerModels();
        world.state->setReady(true);
    }

    // The size of the window the last pictures were taken of.
    static inline QSize windowSize;
    // Takes every section and tab in `look`; returns the files written.
    static std::vector<fs::path> takeAll(WindowWorld& world, Look look, const std::string& prefix) {
        const fs::path folder = PARLWICK_SCREENSHOTS;
        fs::create_directories(folder);
        MainWindow window(*world.state, "1.0");
        world.state->setLook(look);
        window.show();
        QApplication::processEvents();
        windowSize = window.widget()->size();
        std::vector<fs::path> files;
        const auto take = [&](const std::string& name) {
            QApplication::processEvents();
            const fs::path file = folder / (prefix + name + ".png");
            window.widget()->grab().save(QString::fromStdString(file.string()));
            files.push_back(file);
        };
        for (const Section section : Sections::all) {
            world.state->setSettingsTab(std::nullopt);
            world.state->setSection(section);
            take(Sections::label(section).toLower().toStdString());
        }
        for (const SettingsTab tab : Sections::tabs) {
            world.state->setSettingsTab(tab);
            take("settings-" + Sections::label(tab).toLower().replace(' ', '-').toStdString());
        }
        world.state->setSettingsTab(std::nullopt);
        return files;
    }
};

TEST_F(Screenshots, EverySectionAndTabLightAndDark) {
    DisplayApplication display;
    WindowWorld world;
    fill(world);
    const auto light = takeAll(world, Look::light, "light-");
    const auto dark = takeAll(world, Look::dark, "dark-");
    ASSERT_EQ(light.size(), 12u);
    ASSERT_EQ(dark.size(), 12u);
    for (std::size_t i = 0; i < light.size(); ++i) {
        const QImage picture(QString::fromStdString(light[i].string()));
        EXPECT_EQ(picture.size(), WindowFixture::fitted(QSize(1040, 740))) << light[i];
        EXPECT_GT(averageLightness(light[i]), averageLightness(dark[i]) + 40)
            << dark[i] << " is not dark";
    }
}

TEST_F(Screenshots, AtTwiceTheScale) {
    ::setenv("QT_SCALE_FACTOR", "2", 1);
    DisplayApplication display;
    WindowWorld world;
    fill(world);
    const auto files = takeAll(world, Look::light, "scale2-light-");
    ASSERT_EQ(files.size(), 12u);
    for (const auto& file : files) {
        EXPECT_EQ(QImage(QString::fromStdString(file.string())).size(), windowSize * 2) << file;
    }
}

} // namespace
