#pragma once

#include "ManualScheduler.h"
#include "TestSupport.h"
#include "setup/SetupModel.h"
#include "ui/setup/SetupWindow.h"
#include "ui/window/Appearance.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// A setup model whose checks say what the test sets, a window over it, and the settings in a
// private folder. Answers come back through the main loop of the test's application.
struct SetupWorld {
    struct Answers {
        std::atomic<int> microphone{static_cast<int>(SetupModel::Microphone::granted)};
        std::atomic<bool> soundServer{true};
        std::string missingAccess;           // main thread only
        std::string microphoneName;          // set before the checks run
        std::string missingFieldChecks = {}; // read on the worker while nothing changes it
    };

    explicit SetupWorld(bool modelsThere = true, SetupModel::Checks checks = {}) {
        for (const char* name : {"vad.bin", "speech.bin"}) {
            models.push_back(dir / name);
            if (modelsThere) {
                writeAll(models.back(), "model");
            }
        }
        if (!checks.microphone) {
            checks.microphone = [answers = answers] {
                return SetupModel::MicrophoneCheck{
                    static_cast<SetupModel::Microphone>(answers->microphone.load()),
                    answers->soundServer.load(), answers->microphoneName};
            };
        }
        if (!checks.missingFieldChecks) {
            checks.missingFieldChecks = [answers = answers] { return answers->missingFieldChecks; };
        }
        if (!checks.missingDesktopAccess) {
            checks.missingDesktopAccess = [answers = answers] { return answers->missingAccess; };
        }
        model = std::make_unique<SetupModel>(key, settings, std::move(checks), models, scheduler);
        window = std::make_unique<SetupWindow>(*model, settings, appearance, "Parlwick");
    }

    // One poll tick, and the main loop until the worker's answer is in. A check already out
    // is answered first, so the tick's own check sees the answers set now.
    void tick() {
        waitForAnswer();
        scheduler.advanceBy(SetupModel::pollSeconds);
        waitForAnswer();
    }
    void waitForAnswer() {
        QElapsedTimer waited;
        waited.start();
        while (model->isChecking() && waited.elapsed() < 10'000) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        }
        ASSERT_FALSE(model->isChecking()) << "the worker did not answer";
    }

    // The visible label reading `text` in the window, or null.
    QLabel* label(const QString& text) const {
        for (QLabel* label : window->widget()->findChildren<QLabel*>()) {
            if (label->text() == text && label->isVisibleTo(window->widget())) {
                return label;
            }
        }
        return nullptr;
    }
    template <typename Widget = QAbstractButton> Widget* named(const QString& name) const {
        for (Widget* widget : window->widget()->findChildren<Widget*>()) {
            if (widget->accessibleName() == name) {
                return widget;
            }
        }
        return nullptr;
    }
    bool visible(const QString& name) const {
        QWidget* widget = named<QWidget>(name);
        return widget && widget->isVisibleTo(window->widget());
    }

    TempDir dir;
    Settings settings{dir / "settings.ini"};
    RecordKey key{HotKey::rightOption, &settings};
    std::vector<std::filesystem::path> models;
    ManualScheduler scheduler;
    Appearance appearance;
    std::shared_ptr<Answers> answers = std::make_shared<Answers>();
    std::unique_ptr<SetupModel> model;
    std::unique_ptr<SetupWindow> window;
};
