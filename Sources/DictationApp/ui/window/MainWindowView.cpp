#include "ui/window/MainWindowView.h"

#include "storage/HistoryStore.h"
#include "ui/WindowPlacement.h"
#include "ui/window/HistoryScreen.h"
#include "ui/window/HomeScreen.h"
#include "ui/window/Icons.h"
#include "ui/window/InsightsScreen.h"
#include "ui/window/RankToast.h"
#include "ui/window/ScratchpadScreen.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/SettingsSheet.h"
#include "ui/window/SnippetsScreen.h"
#include "ui/window/StyleScreen.h"
#include "ui/window/WordsScreen.h"

#include <QAbstractButton>
#include <QByteArray>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Drawn from the palette, so it is set again whenever the look changes.
const char* const look = R"(
#sidebar { background: palette(window); }
#sidebar QListWidget { background: transparent; border: none; outline: none; }
#sidebar QListWidget::item { padding: 7px 10px; border-radius: 6px; }
#sidebar QListWidget::item:selected { background: palette(highlight);
  color: palette(highlighted-text); }
#avatar { border-radius: 18px; background: palette(highlight); color: palette(highlighted-text);
  font-weight: 600; }
#rankToast { border-radius: 10px; background: palette(highlight);
  color: palette(highlighted-text); font-weight: 600; }
)";

QWidget* makeScreen(Section section, AppState& state, const AppParts& parts) {
    switch (section) {
    case Section::home:
        return new HomeScreen(state, parts);
    case Section::history:
        return new HistoryScreen(parts);
    case Section::insights:
        return new InsightsScreen(parts.history, *parts.clock);
    case Section::words:
        return new WordsScreen(parts.words);
    case Section::snippets:
        return new SnippetsScreen(parts.snippets);
    case Section::style:
        return new StyleScreen(parts.settings);
    case Section::scratchpad:
        return new ScratchpadScreen(parts.notes, *parts.clock, parts.scheduler);
    }
    return new QWidget;
}

} // namespace

MainWindowView::MainWindowView(AppState& state, const AppParts& parts, Appearance& appearance,
                               const std::string& version)
    : state_(state), parts_(parts), appearance_(appearance),
      version_(QString::fromStdString(version)) {
    setWindowTitle(QString::fromStdString(parts.paths.appName()));
    setAccessibleName(windowTitle());
    // Small enough for a 1280x720 screen at 1.25x, where the screens scroll.
    setMinimumSize(640, 440);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    sidebar_ = makeSidebar();
    layout->addWidget(sidebar_);
    screens_ = new QStackedWidget;
    screens_->setObjectName(QStringLiteral("screens"));
    for (const Section section : Sections::all) {
        QWidget* screen = makeScreen(section, state, parts);
        screen->setAccessibleName(Sections::label(section));
        screens_->addWidget(screen);
    }
    layout->addWidget(screens_, 1);

    // Over the screens, not in the layout: the sheet covers them while a tab is open.
    sheet_ = new SettingsSheet(state, parts, version, this);
    toast_ = new RankToast(parts.history, parts.scheduler, this);

    if (const auto frame = parts.settings.get(SettingKeys::mainWindowFrame);
        !frame || !restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(*frame)))) {
        WindowPlacement::fit(*this, QSize(width, height));
    }

    connect(&state, &AppState::sectionChanged, this, &MainWindowView::showSection);
    connect(&state, &AppState::settingsTabChanged, this, &MainWindowView::showSheet);
    connect(&state, &AppState::lookChanged, this, &MainWindowView::showLook);
    connect(&state, &AppState::readyChanged, this, &MainWindowView::showReady);
    connect(&state, &AppState::hasTrayChanged, this, &MainWindowView::showTray);
    connect(&state.profile(), &Profile::nameChanged, this,
            [this] { avatar_->setText(state_.profile().initials()); });
    connect(&appearance, &Appearance::changed, this, &MainWindowView::showLook);
    showSection();
    showSheet();
    showLook();
    showReady();
    showTray();
    addShortcuts();
}

QString MainWindowView::noTrayText(const QString& appName) {
    return QStringLiteral("Dictation keeps running when you close this window. Open ") + appName +
           QStringLiteral(" again to bring it back.");
}

// The editing keys (undo, redo, cut, copy, paste, select all) are the text fields' own.
void MainWindowView::addShortcuts() {
    const auto add = [this](QKeyCombination keys, auto action) {
        connect(new QShortcut(QKeySequence(keys), this), &QShortcut::activated, this, action);
    };
    add(Qt::CTRL | Qt::Key_W, [this] { close(); });
    add(Qt::CTRL | Qt::Key_M, [this] { showMinimized(); });
    add(Qt::CTRL | Qt::Key_Comma, [this] { state_.setSettingsTab(SettingsTab::general); });
    add(Qt::CTRL | Qt::Key_F, [this] {
        if (QWidget* field = state_.settingsTab()
                                 ? nullptr
                                 : ScreenParts::findTarget(screens_->currentWidget())) {
            field->setFocus(Qt::ShortcutFocusReason);
            if (auto* line = qobject_cast<QLineEdit*>(field)) {
                line->selectAll();
            }
        }
    });
    add(Qt::CTRL | Qt::Key_Q, [this] { parts_.quit(); });
}

QWidget* MainWindowView::makeSidebar() {
    auto* sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setFixedWidth(200);
    auto* column = new QVBoxLayout(sidebar);
    column->setContentsMargins(12, 16, 12, 12);

    avatar_ = new QLabel(state_.profile().initials());
    avatar_->setObjectName(QStringLiteral("avatar"));
    avatar_->setAlignment(Qt::AlignCenter);
    avatar_->setFixedSize(36, 36);
    ScreenParts::describe(avatar_, QStringLiteral("Your initials"));
    column->addWidget(avatar_);

    sections_ = new QListWidget;
    sections_->setAccessibleName(QStringLiteral("Sections"));
    sections_->setFrameShape(QFrame::NoFrame);
    for (const Section section : Sections::all) {
        sections_->addItem(Sections::label(section));
    }
    connect(sections_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(Sections::all.size())) {
            state_.setSection(Sections::all[static_cast<std::size_t>(row)]);
        }
    });
    column->addWidget(sections_, 1);

    starting_ = new QLabel(QStringLiteral("Starting…"));
    starting_->setAccessibleName(starting_->text());
    column->addWidget(starting_);

    noTray_ = new QLabel(noTrayText(QString::fromStdString(parts_.paths.appName())));
    noTray_->setAccessibleName(noTray_->text());
    noTray_->setWordWrap(true);
    column->addWidget(noTray_);

    auto* buttons = new QHBoxLayout;
    auto* settings = new QToolButton;
    settings->setText(QStringLiteral("Settings"));
    settings->setAccessibleName(settings->text());
    settings->setIcon(Icons::symbol("gearshape"));
    settings->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(settings, &QToolButton::clicked, this,
            [this] { state_.setSettingsTab(SettingsTab::general); });
    buttons->addWidget(settings);
    buttons->addStretch();

    darkToggle_ = new QToolButton;
    darkToggle_->setCheckable(true);
    darkToggle_->setAccessibleName(QStringLiteral("Use dark mode"));
    darkToggle_->setToolTip(darkToggle_->accessibleName());
    connect(darkToggle_, &QToolButton::clicked, this,
            [this](bool dark) { state_.setLook(dark ? Look::dark : Look::light); });
    buttons->addWidget(darkToggle_);
    buttons->addWidget(makeMainMenu());
    column->addLayout(buttons);
    return sidebar;
}

QToolButton* MainWindowView::makeMainMenu() {
    // The primary menu GNOME and KDE apps have: what lies outside the screens.
    auto* button = new QToolButton;
    button->setAccessibleName(QStringLiteral("Main menu"));
    button->setToolTip(button->accessibleName());
    button->setIcon(QIcon::fromTheme(QStringLiteral("open-menu-symbolic"),
                                     QIcon::fromTheme(QStringLiteral("application-menu"))));
    if (button->icon().isNull()) {
        button->setText(QStringLiteral("☰"));
    }
    button->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(button);
    const QString appName = QString::fromStdString(parts_.paths.appName());
    // The keys are the window's own shortcuts, shown here, not bound twice.
    menu->addAction(QStringLiteral("Preferences\tCtrl+,"), this,
                    [this] { state_.setSettingsTab(SettingsTab::general); });
    menu->addAction(QStringLiteral("Keyboard Shortcuts"), this, [this] { showShortcuts(); });
    menu->addAction(QStringLiteral("About ") + appName, this, [this, appName] {
        QMessageBox::about(this, QStringLiteral("About ") + appName,
                           appName + QLatin1Char(' ') + version_ +
                               QStringLiteral("\nDictation that stays on this computer."));
    });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit\tCtrl+Q"), this, [this] { parts_.quit(); });
    button->setMenu(menu);
    return button;
}

QString MainWindowView::shortcutsText() {
    return QStringLiteral("Hold the record key in any text box and talk; tap it twice for "
                          "hands-free, Esc to stop.\n\n"
                          "Ctrl+,\tPreferences\n"
                          "Ctrl+F\tSearch History, or the entry field of Words and Snippets\n"
                          "Ctrl+W\tClose the window (dictation keeps running)\n"
                          "Ctrl+M\tMinimise the window\n"
                          "Ctrl+Q\tQuit\n"
                          "Esc\tClose the settings");
}

void MainWindowView::showShortcuts() {
    QMessageBox::information(this, QStringLiteral("Keyboard Shortcuts"), shortcutsText());
}

QWidget* MainWindowView::screen(Section section) const {
    return screens_->widget(static_cast<int>(section));
}

void MainWindowView::showSection() {
    const int row = static_cast<int>(state_.section());
    screens_->setCurrentIndex(row);
    if (sections_->currentRow() != row) {
        sections_->setCurrentRow(row);
    }
}

void MainWindowView::showSheet() {
    const bool open = state_.settingsTab().has_value();
    sheet_->setGeometry(rect());
    // What the sheet covers is hidden too, so neither Tab nor a screen reader reaches it.
    sidebar_->setVisible(!open);
    screens_->setVisible(!open);
    sheet_->setVisible(open);
    if (open) {
        sheet_->raise();
        toast_->raise();
        for (QWidget* next = sheet_->nextInFocusChain();
             next != sheet_ && !sheet_->isAncestorOf(focusWidget());
             next = next->nextInFocusChain()) {
            if (sheet_->isAncestorOf(next) && next->isVisibleTo(sheet_) && next->isEnabled() &&
                (next->focusPolicy() & Qt::TabFocus)) {
                next->setFocus(Qt::TabFocusReason);
            }
        }
    } else if (isVisible() && (!focusWidget() || !focusWidget()->isVisible())) {
        sections_->setFocus();
    }
}

void MainWindowView::showLook() {
    appearance_.apply(state_.look());
    // On the parts that need it, not the window: a style sheet on the window would reach the
    // message boxes it parents, which then draw dark text on a dark look.
    for (QWidget* part : {static_cast<QWidget*>(sidebar_), static_cast<QWidget*>(toast_)}) {
        part->setStyleSheet(QString::fromLatin1(look));
    }
    screens_->setBackgroundRole(QPalette::Base);
    screens_->setAutoFillBackground(true);
    darkToggle_->setChecked(appearance_.isDark());
    darkToggle_->setIcon(Icons::symbol(appearance_.isDark() ? "moon" : "sun.max"));
}

void MainWindowView::showReady() {
    starting_->setVisible(!state_.isReady());
}

void MainWindowView::showTray() {
    noTray_->setVisible(!state_.hasTray());
}

void MainWindowView::rememberFrame() {
    parts_.settings.set(SettingKeys::mainWindowFrame,
                        std::optional<std::string>(saveGeometry().toBase64().toStdString()));
}

void MainWindowView::closeEvent(QCloseEvent* event) {
    // The app lives on in the tray; the window only hides.
    rememberFrame();
    event->ignore();
    hide();
}

void MainWindowView::keyPressEvent(QKeyEvent* event) {
    // Outside dialogs Qt's buttons leave Return to their window: it presses them here.
    auto* button = qobject_cast<QAbstractButton*>(focusWidget());
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier && button && button->isEnabled()) {
        button->animateClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainWindowView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A frame kept from a larger screen, once the window manager has framed it.
    QTimer::singleShot(0, this, [this] { WindowPlacement::keepInside(*this); });
    toast_->windowShown();
}

void MainWindowView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    sheet_->setGeometry(rect());
    toast_->place();
}
