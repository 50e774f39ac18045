#include "ui/window/GeneralTab.h"

#include "config/Autostart.h"
#include "platform/Log.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/SettingsRows.h"
#include "updates/Updates.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>
#include <array>
#include <exception>

namespace {

constexpr std::array<Look, 3> looks{Look::light, Look::dark, Look::matchSystem};

QString label(Look look) {
    switch (look) {
    case Look::light:
        return QStringLiteral("Light");
    case Look::dark:
        return QStringLiteral("Dark");
    case Look::matchSystem:
        return QStringLiteral("Match system");
    }
    return {};
}

} // namespace

GeneralTab::GeneralTab(AppState& state, const AppParts& parts, QWidget* parent)
    : QWidget(parent), state_(state), parts_(parts) {
    QVBoxLayout* column = ScreenParts::scrollingColumn(this);

    QHBoxLayout* row = nullptr;
    key_ = SettingsRows::picker(QStringLiteral("Hold to talk"), &row);
    for (const HotKey key : HotKeys::allCases) {
        key_->addItem(ScreenParts::text(HotKeys::label(key)));
    }
    column->addLayout(row);
    look_ = SettingsRows::picker(QStringLiteral("Theme"), &row);
    for (const Look look : looks) {
        look_->addItem(label(look));
    }
    column->addLayout(row);

    openAtLogin_ = SettingsRows::toggle(QStringLiteral("Open at login"));
    column->addWidget(openAtLogin_);
    openAtLoginProblem_ = ScreenParts::problemLine();
    column->addWidget(openAtLoginProblem_);

    sound_ = SettingsRows::toggle(QStringLiteral("Sound when you let go"));
    column->addWidget(sound_);
    // Wayland desktops keep keys from apps; some offer no shortcut for them either.
    inputDevices_ = SettingsRows::toggle(QStringLiteral("Read the record key from the keyboard"));
    column->addWidget(inputDevices_);
    QLabel* inputDevicesNote = ScreenParts::note(
        QStringLiteral("For desktops without app shortcuts. Needs the input group, and then "
                       "any program you run can read what you type. Takes effect when "
                       "Parlwick starts again."));
    column->addWidget(inputDevicesNote);
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    inputDevices_->setVisible(wayland);
    inputDevicesNote->setVisible(wayland);
    // Disabled in builds without an update feed.
    updates_ = SettingsRows::toggle(QStringLiteral("Check for updates automatically"));
    column->addWidget(updates_);
    updatesLine_ = new QLabel;
    updatesLine_->setAccessibleName(QStringLiteral("Updates"));
    updatesLine_->setWordWrap(true);
    updatesLine_->setTextFormat(Qt::RichText);
    updatesLine_->setOpenExternalLinks(true);
    updatesLine_->hide();
    column->addWidget(updatesLine_);

    crashReports_ = SettingsRows::toggle(QStringLiteral("Offer to share crash reports"));
    column->addWidget(crashReports_);
    column->addWidget(ScreenParts::note(
        QStringLiteral("After a crash, asks first. Never sends anything by itself.")));

    column->addSpacing(12);
    column->addWidget(SettingsRows::title(QStringLiteral("Something not working?")));
    QPushButton* showLog = SettingsRows::button(QStringLiteral("Show log"));
    column->addWidget(showLog, 0, Qt::AlignLeft);
    column->addWidget(ScreenParts::note(QStringLiteral("The log never holds what you said.")));
    column->addStretch();

    connect(key_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            state_.setKey(HotKeys::allCases[static_cast<std::size_t>(index)]);
        }
    });
    connect(look_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            state_.setLook(looks[static_cast<std::size_t>(index)]);
        }
    });
    connect(openAtLogin_, &QCheckBox::toggled, this, &GeneralTab::changeOpenAtLogin);
    connect(sound_, &QCheckBox::toggled, this,
            [this](bool on) { parts_.settings.set(SettingKeys::playSound, on); });
    connect(inputDevices_, &QCheckBox::toggled, this,
            [this](bool on) { parts_.settings.set(SettingKeys::readInputDevices, on); });
    connect(updates_, &QCheckBox::toggled, this, [this](bool on) {
        if (Updates* updates = parts_.updates) {
            updates->setChecksAutomatically(on);
        }
    });
    connect(crashReports_, &QCheckBox::toggled, this, &GeneralTab::changeCrashReports);
    connect(showLog, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QString::fromStdString(parts_.paths.log().string())));
    });

    connect(&state, &AppState::keyChanged, this, &GeneralTab::showSettings);
    connect(&state, &AppState::lookChanged, this, &GeneralTab::showSettings);
    connect(&parts.settings, &Settings::changed, this, &GeneralTab::showSettings);
    if (parts.updates) {
        connect(parts.updates, &Updates::changed, this, &GeneralTab::showUpdates);
    }
    showUpdates();
    showSettings();
    showOpenAtLogin();
}

void GeneralTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showOpenAtLogin();
}

void GeneralTab::showSettings() {
    const Settings& settings = parts_.settings;
    const QSignalBlocker keyBlocker(key_);
    key_->setCurrentIndex(static_cast<int>(state_.key()));
    const QSignalBlocker lookBlocker(look_);
    look_->setCurrentIndex(static_cast<int>(state_.look()));
    const QSignalBlocker soundBlocker(sound_);
    sound_->setChecked(settings.get(SettingKeys::playSound));
    const QSignalBlocker inputBlocker(inputDevices_);
    inputDevices_->setChecked(settings.get(SettingKeys::readInputDevices));
    const QSignalBlocker crashBlocker(crashReports_);
    crashReports_->setChecked(settings.get(SettingKeys::offersCrashReports));
    showUpdates();
}

void GeneralTab::showUpdates() {
    const Updates* updates = parts_.updates;
    const QSignalBlocker blocker(updates_);
    updates_->setEnabled(updates != nullptr);
    updates_->setChecked(updates && updates->checksAutomatically());
    if (!updates || updates->message().isEmpty()) {
        updatesLine_->clear();
        updatesLine_->hide();
        return;
    }
    QString line = updates->message().toHtmlEscaped();
    if (const auto& release = updates->available();
        release && release->page.isValid() && !release->page.isEmpty()) {
        line += QStringLiteral(" <a href=\"%1\">Open the release page</a>")
                    .arg(release->page.toString(QUrl::FullyEncoded).toHtmlEscaped());
    }
    updatesLine_->setText(line);
    updatesLine_->show();
}

void GeneralTab::showOpenAtLogin() {
    const QSignalBlocker blocker(openAtLogin_);
    openAtLogin_->setChecked(Autostart::isSet(parts_.paths));
}

void GeneralTab::changeOpenAtLogin(bool opens) {
    try {
        Autostart::set(parts_.paths, opens);
        ScreenParts::showProblem(openAtLoginProblem_, std::nullopt);
    } catch (const std::exception& error) {
        log(std::string("open at login: ") + error.what());
        ScreenParts::showProblem(openAtLoginProblem_,
                                 std::string("Couldn't change Open at login: ") + error.what());
    }
    // The switch shows what the desktop will do, which after a failure is what it did before.
    showOpenAtLogin();
}

void GeneralTab::changeCrashReports(bool offers) {
    Settings& settings = parts_.settings;
    // Reports from before the opt-in are never offered.
    if (offers) {
        settings.set(SettingKeys::lastCrashReport, std::optional<Timestamp>(parts_.clock->now()));
    }
    settings.set(SettingKeys::offersCrashReports, offers);
}
