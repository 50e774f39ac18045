#pragma once

#include "desktop/KeyListener.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

// The record key as commands on the session bus, for compositors that let the user bind keys
// to commands but offer programs no shortcuts of their own (sway and other wlroots
// compositors): Start when the bound key goes down, Stop when it comes up, Toggle for a key
// bound once. The object lives beside the app's own on its bus name; in terminal mode, where
// nothing else holds that name, the listener takes it. Any program of the user's may call, as
// often as it likes: a call only notes what is wanted, and what changed is delivered on a
// later turn of the main loop, at most one command every `gapMs`. Main thread only.
class RecordKeyCommands : public QObject, public KeyListener {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.parlwick.Parlwick.RecordKey")
  public:
    static constexpr const char* defaultBusName = "org.parlwick.Parlwick";
    static constexpr const char* objectPath = "/org/parlwick/Parlwick/RecordKey";
    static constexpr const char* interfaceName = "org.parlwick.Parlwick.RecordKey";
    // Faster than any hand on a key: a burst within it comes out as its net effect.
    static constexpr int gapMs = 100;

    explicit RecordKeyCommands(QString busName = QString::fromLatin1(defaultBusName));
    ~RecordKeyCommands() override;

    bool isAvailable() const override;
    std::string unavailableReason() const override;
    void start(std::function<void(const KeyEvent&)> sink) override;

    // The shell command that sends `method` ("Start", "Stop" or "Toggle") to `busName`.
    static std::string command(const std::string& busName, const std::string& method);

  public Q_SLOTS:
    Q_SCRIPTABLE void Start();
    Q_SCRIPTABLE void Stop();
    Q_SCRIPTABLE void Toggle();

  private:
    void schedule();
    void flush();

    QString busName_;
    std::string why_;
    bool ownsName_ = false;
    bool registered_ = false;
    // Whether the bound key is down as the calls say, and as the sink was told last.
    bool wantDown_ = false;
    bool toldDown_ = false;
    // A press the sink has not been told of, though the key may be up again.
    bool pressPending_ = false;
    // An odd number of toggles not delivered yet.
    bool togglePending_ = false;
    QTimer flush_;
    QElapsedTimer sinceDelivery_;
    std::function<void(const KeyEvent&)> sink_;
};
