#pragma once

#include "HotKey.h"
#include "desktop/KeyListener.h"

#include <QDBusConnection>
#include <functional>
#include <memory>
#include <string>

// The record key as a shortcut the desktop binds for us through the GlobalShortcuts portal
// (KDE, GNOME, Hyprland on Wayland): the desktop tells us when it goes down and up, as
// recordKeyDown and recordKeyUp, and sees no other key. Main thread only; nothing here waits
// for the portal's dialogs.
class PortalShortcutListener : public KeyListener {
  public:
    static constexpr const char* shortcutId = "record";
    static constexpr const char* description = "Hold to dictate";

    // Asks for `key` alone as the trigger. Reads the portal's version (a property, a moment at
    // most) to know whether the portal is offered.
    explicit PortalShortcutListener(HotKey key,
                                    QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalShortcutListener() override;

    // `key` in the shortcuts notation the portal takes (an XKB key name, "Alt_R"); empty for
    // fn, which the keyboard keeps to itself, so the desktop chooses.
    static std::string preferredTrigger(HotKey key);
    // Whether the desktop portal offers global shortcuts; `why` says why not (lower-case).
    static bool isOffered(std::string* why = nullptr,
                          QDBusConnection bus = QDBusConnection::sessionBus());

    // True until the portal turns out not to be there, refuses the shortcut or ends the
    // session; the reason is then logged.
    bool isAvailable() const override;
    std::string unavailableReason() const override;
    // Asks for a session and the shortcut; the desktop may show its dialog meanwhile.
    void start(std::function<void(const KeyEvent&)> sink) override;

    // What triggers dictation, as the desktop describes it once the shortcut is bound, the
    // preferred trigger before that; empty when neither says.
    std::string trigger() const;
    // Whether the desktop has bound the shortcut to some trigger.
    bool isBound() const;
    // Called with trigger() whenever it changes.
    void onTriggerChanged(std::function<void(const std::string&)> changed);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
