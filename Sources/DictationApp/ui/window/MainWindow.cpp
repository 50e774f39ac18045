#include "ui/window/MainWindow.h"

#include "ui/WindowPlacement.h"
#include "ui/window/MainWindowView.h"
#include "voice/VoiceTest.h"

#include <QApplication>

MainWindow::MainWindow(AppState& state, const AppParts& parts, std::string version, QObject* parent)
    : QObject(parent), state_(state), parts_(parts), version_(std::move(version)) {}

MainWindow::~MainWindow() = default;

void MainWindow::show() {
    if (!view_) {
        view_ = std::make_unique<MainWindowView>(state_, parts_, appearance_, version_);
    }
    WindowPlacement::bringForward(*view_);
}

void MainWindow::hide() {
    if (view_) {
        view_->close();
    }
}

void MainWindow::quitApplication() {
    hide();
    QCoreApplication::exit(0);
}

bool MainWindow::isVisible() const {
    return view_ && view_->isVisible();
}

QWidget* MainWindow::widget() const {
    return view_.get();
}

bool MainWindow::captureTarget() const {
    return captureTarget(QApplication::applicationState() == Qt::ApplicationActive, isVisible(),
                         state_.settingsTab());
}

bool MainWindow::captureTarget(bool appIsActive, bool windowIsVisible,
                               const std::optional<SettingsTab>& tab) {
    return appIsActive && windowIsVisible && tab == SettingsTab::yourVoice;
}

std::function<std::optional<MainWindow::SampleReceiver>()>
MainWindow::captureHook(const MainWindow& window, VoiceTest& voiceTest) {
    return [window = QPointer<const MainWindow>(&window),
            test = QPointer<VoiceTest>(&voiceTest)]() -> std::optional<SampleReceiver> {
        if (!window || !test || !window->captureTarget()) {
            return std::nullopt;
        }
        return [test](std::vector<float> samples) {
            if (test) {
                test->save(std::move(samples));
            }
        };
    };
}
