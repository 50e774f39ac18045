#pragma once

#include <QObject>
#include <QString>
#include <functional>

// One running copy of the app per session: two would both paste what was said. The first
// launch owns a unique name on the session bus, with an object whose "Reopen" method shows its
// window; a later launch finds the name taken, calls that method and ends. Without a session
// bus the app runs alone. Needs the application object; lives on the main thread.
class SingleInstance : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* objectPath = "/org/parlwick/Parlwick";
    static constexpr const char* interfaceName = "org.parlwick.Parlwick";

    enum class Claim {
        first,      // the name is ours: run, and answer later launches through `onReopen`
        handedOver, // another copy runs and was asked to show itself: end with status 0
        alone,      // no session bus, or it would not give us the name: run without one
    };

    // `name`: the bundle identifier.
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    // Gives the name back, so a launch right after this one's end is the first again.
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the name or, when another copy holds it, asks that copy to show its window (unless
    // `reopen` is false, as for a launch at login).
    Claim claim(bool reopen = true);

    // Another launch asked to see the window; called on the main thread.
    std::function<void()> onReopen = [] {};

  private:
    QString name_;
    QObject* receiver_ = nullptr;
    bool owns_ = false;
};
