#pragma once

#include "ui/window/AppState.h"
#include "ui/window/Appearance.h"

#include <QWidget>
#include <array>
#include <string>

class QLabel;
class QListWidget;
class QStackedWidget;
class QToolButton;
class RankToast;
class SettingsSheet;

// What the main window holds: the sidebar, one screen per section, the settings sheet over
// them and the rank toast over everything.
class MainWindowView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int width = 1040;
    static constexpr int height = 740;

    // Without a tray icon, closing the window must not look like quitting.
    static QString noTrayText(const QString& appName);
    // What "Keyboard Shortcuts" in the main menu lists.
    static QString shortcutsText();

    MainWindowView(AppState& state, const AppParts& parts, Appearance& appearance,
                   const std::string& version);

    QWidget* screen(Section section) const;
    SettingsSheet& sheet() const { return *sheet_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QWidget* makeSidebar();
    QToolButton* makeMainMenu();
    void showShortcuts();
    void showSection();
    void showSheet();
    void showLook();
    void showReady();
    void showTray();
    void addShortcuts();
    void rememberFrame();

    AppState& state_;
    const AppParts& parts_;
    Appearance& appearance_;
    QListWidget* sections_ = nullptr;
    QWidget* sidebar_ = nullptr;
    QStackedWidget* screens_ = nullptr;
    QToolButton* darkToggle_ = nullptr;
    QString version_;
    QLabel* starting_ = nullptr;
    QLabel* noTray_ = nullptr;
    QLabel* avatar_ = nullptr;
    SettingsSheet* sheet_ = nullptr;
    RankToast* toast_ = nullptr;
};
