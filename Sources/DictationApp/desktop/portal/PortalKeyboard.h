#pragma once

#include "desktop/KeySynthesizer.h"

#include <QDBusConnection>
#include <filesystem>
#include <memory>
#include <string>

// Keys sent through the RemoteDesktop portal (GNOME, KDE on Wayland) as keysyms, so the
// desktop picks the keycodes. One session serves the whole run: the desktop asks the user
// once, and with a restore token kept from an earlier run may not ask again. Main thread only.
class PortalKeyboard : public KeySynthesizer {
  public:
    // Typing sends the characters in bursts: a character whose keysym the burst has not sent
    // yet may make the desktop change its virtual keyboard's keymap, so the burst ends after
    // the second such character, and the next comes this much later...
    static constexpr int settleMs = 15;
    // ...remembering at most this many keysyms as sent.
    static constexpr int maxKeysyms = 32;

    // Reads the restore token from `tokenFile` (none when empty or missing), and keeps there
    // the one the portal hands out (0600, replaced atomically).
    explicit PortalKeyboard(std::filesystem::path tokenFile,
                            QDBusConnection bus = QDBusConnection::sessionBus());
    // Releases every key still down and ends the session.
    ~PortalKeyboard() override;

    // Whether the desktop portal offers RemoteDesktop; `why` says why not (lower-case).
    static bool isOffered(std::string* why = nullptr,
                          QDBusConnection bus = QDBusConnection::sessionBus());

    // Asks for the session, once; the desktop may show its dialog meanwhile. Until it is
    // granted, sendPasteChord and type answer retry, and failed once it was refused.
    void start();
    bool isStarted() const;

    // False once the portal is missing, refused the session or ended it.
    bool isAvailable() const override;
    std::string unavailableReason() const override;
    SynthesisResult sendPasteChord(PasteChord chord) override;
    SynthesisResult type(const std::string& text,
                         std::function<void(SynthesisResult)> done) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
