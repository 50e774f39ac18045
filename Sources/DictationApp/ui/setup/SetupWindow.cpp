#include "ui/setup/SetupWindow.h"

#include "ui/WindowPlacement.h"
#include "ui/setup/SetupView.h"
#include "ui/window/Appearance.h"

#include <QCloseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

class SetupWindow::Window : public QWidget {
  public:
    explicit Window(std::function<void()> closed) : closed_(std::move(closed)) {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        // Kept for next time: a close only hides it.
        event->accept();
        closed_();
    }

  private:
    std::function<void()> closed_;
};

SetupWindow::SetupWindow(SetupModel& model, Settings& settings, Appearance& appearance,
                         QString appName, QObject* parent)
    : QObject(parent), model_(model), settings_(settings), appearance_(appearance),
      appName_(std::move(appName)) {
    connect(&settings_, &Settings::changed, this, [this](const QString& key) {
        if (window_ &&
            key == QLatin1String(SettingKeys::look.name.data(),
                                 static_cast<qsizetype>(SettingKeys::look.name.size()))) {
            appearance_.apply(settings_.get(SettingKeys::look));
        }
    });
}

SetupWindow::~SetupWindow() = default;

QWidget* SetupWindow::widget() const {
    return window_.get();
}

void SetupWindow::show() {
    if (!window_) {
        window_ = std::make_unique<Window>([this] { closed(); });
        window_->setWindowTitle(QStringLiteral("Set up ") + appName_);
        window_->setAccessibleName(window_->windowTitle());
        // Closing setup never ends the app: it keeps running in the tray.
        window_->setAttribute(Qt::WA_QuitOnClose, false);
        auto* layout = new QVBoxLayout(window_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        auto* view = new SetupView(model_, appName_);
        view->onDone = [this] { window_->close(); };
        layout->addWidget(view);
        WindowPlacement::fit(*window_, QSize(width, height));
    }
    showLook();
    model_.refresh();
    WindowPlacement::bringForward(*window_);
    QTimer::singleShot(0, window_.get(), [this] { WindowPlacement::keepInside(*window_); });
}

void SetupWindow::showLook() {
    appearance_.apply(settings_.get(SettingKeys::look));
    window_->findChild<SetupView*>()->showLook();
}

void SetupWindow::closed() {
    model_.refresh();
    if (model_.isComplete()) {
        onFinish();
    }
}

void showWindow(bool isApp, SetupWindow& setup, const std::function<void()>& showMain) {
    if (SetupModel::showsSetup(isApp, setup.model().isNeeded())) {
        setup.show();
    } else {
        showMain();
    }
}
