// Every section and settings tab, light and dark, and the pill, the tray menu, the dialogs, the
// rank toast and the empty screens, drawn by a real X server (Xvfb) under an English locale and
// kept as pictures for a reviewer in the build folder's screenshots/.
#include "Pictures.h"
#include "WindowFixture.h"
#include "ui/Pill.h"
#include "ui/tray/StatusMenu.h"
#include "ui/window/CorrectionDialog.h"
#include "ui/window/MainWindow.h"
#include "ui/window/MainWindowView.h"
#include "ui/window/RankToast.h"

#include <QImage>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// A widgets application on whatever display the desktop session gives, made before the world.
struct DisplayApplication {
    DisplayApplication() : app(argc, argv) {
        // As a user's desktop has it: the C locale would number the weekdays.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
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

    // The size of the window as each of the last pictures was taken.
    static inline std::vector<QSize> windowSizes;
    // Takes every section and tab in `look`; returns the files written.
    static std::vector<fs::path> takeAll(WindowWorld& world, Look look, const std::string& prefix) {
        const fs::path folder = PARLWICK_SCREENSHOTS;
        fs::create_directories(folder);
        MainWindow window(*world.state, *world.parts, "1.0");
        world.state->setLook(look);
        window.show();
        windowSizes.clear();
        std::vector<fs::path> files;
        const auto take = [&](const std::string& name) {
            QApplication::processEvents();
            const fs::path file = folder / (prefix + name + ".png");
            window.widget()->grab().save(QString::fromStdString(file.string()));
            windowSizes.push_back(window.widget()->size());
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
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(QImage(QString::fromStdString(files[i].string())).size(), windowSizes[i] * 2)
            << files[i];
    }
}

// The pill in each state, the tray's menu, the dialogs, the rank toast and the screens with
// nothing in them yet, in both looks.
TEST_F(Screenshots, ThePillTheTrayMenuTheDialogsTheToastAndTheEmptyScreens) {
    DisplayApplication display;
    const fs::path folder = PARLWICK_SCREENSHOTS;
    fs::create_directories(folder);
    std::vector<fs::path> files;
    const auto save = [&](QWidget& widget, const std::string& name) {
        QApplication::processEvents();
        const fs::path file = folder / (name + ".png");
        EXPECT_TRUE(widget.grab().save(QString::fromStdString(file.string()))) << name;
        files.push_back(file);
    };
    for (const Look look : {Look::light, Look::dark}) {
        const std::string prefix = look == Look::dark ? "dark-" : "light-";
        WindowWorld empty;
        empty.state->setLook(look);
        empty.state->setReady(true);
        MainWindow window(*empty.state, *empty.parts, "1.0");
        window.show();
        for (const Section section : {Section::home, Section::history, Section::words,
                                      Section::snippets, Section::scratchpad}) {
            empty.state->setSection(section);
            save(*window.widget(),
                 prefix + "empty-" + Sections::label(section).toLower().toStdString());
        }

        empty.state->setSection(Section::home);
        empty.history->setNewRank(Rank::songbird);
        QApplication::processEvents();
        save(*window.widget(), prefix + "rank-toast");

        Pill pill;
        pill.listening();
        for (const float level : {0.2f, 0.6f, 0.9f, 0.4f, 0.7f, 0.3f}) {
            pill.setLevel(level);
        }
        pill.model().setWords("first buy milk, second call Anna");
        save(pill.panel(), prefix + "pill-listening");
        pill.listening();
        save(pill.panel(), prefix + "pill-silent");
        pill.model().setHint("Hands-free. Tap right Alt to finish, esc to cancel");
        save(pill.panel(), prefix + "pill-hands-free");
        pill.working();
        save(pill.panel(), prefix + "pill-working");
        pill.error("No speech found");
        save(pill.panel(), prefix + "pill-error");
        pill.hide();

        DictationState dictation;
        empty.state->setStatus("Hold right Alt to talk");
        StatusMenu menu(*empty.state, dictation, empty.paths.appName());
        menu.menu().popup(QPoint(200, 40));
        save(menu.menu(), prefix + "tray-menu");
        menu.menu().hide();

        CorrectionDialog correction(typedRecord(empty.clock->now(), "the the plan is fine"),
                                    window.widget());
        correction.show();
        save(correction, prefix + "dialog-correction");
        correction.close();

        QMessageBox shortcuts(QMessageBox::Information, "Keyboard Shortcuts",
                              MainWindowView::shortcutsText(), QMessageBox::Ok, window.widget());
        shortcuts.show();
        save(shortcuts, prefix + "dialog-shortcuts");
        shortcuts.close();
        if (look == Look::dark) {
            // A message box the window parents is drawn in the window's look, text included.
            EXPECT_GT(shareLighterThan(files.back(), 180), 0.01) << files.back();
        }
    }
    ASSERT_EQ(files.size(), 2u * 14u);
    for (std::size_t i = 0; i < files.size() / 2; ++i) {
        // The pill is a dark capsule in both looks, over any window.
        if (files[i].filename().string().find("pill-") != std::string::npos) {
            continue;
        }
        EXPECT_GT(averageLightness(files[i]), averageLightness(files[i + files.size() / 2]) + 20)
            << files[i + files.size() / 2] << " is not dark";
    }
}

} // namespace
