#include "RecordKeyCalls.h"
#include "ui/HandsFreeEscape.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Records the events that reach it.
class Receiver : public QObject {
  public:
    std::vector<QEvent::Type> seen;
    bool event(QEvent* e) override {
        seen.push_back(e->type());
        return true;
    }
};

TEST(HandsFreeEscape, EscapeInOurOwnWindowsCancelsAndStopsThereOnlyInHandsFree) {
    int argc = 1;
    char name[] = "hands-free-escape-tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    RecordKeyCalls calls;
    HandsFreeEscape filter(calls);
    app.installEventFilter(&filter);
    Receiver window;
    const auto press = [&](QEvent::Type type, int key) {
        QKeyEvent event(type, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &event);
    };

    press(QEvent::KeyPress, Qt::Key_Escape);
    EXPECT_EQ(window.seen, std::vector<QEvent::Type>{QEvent::KeyPress});
    EXPECT_TRUE(calls.made.empty());

    calls.handsFree = true;
    window.seen.clear();
    press(QEvent::ShortcutOverride, Qt::Key_Escape);
    press(QEvent::KeyPress, Qt::Key_Escape);
    press(QEvent::KeyPress, Qt::Key_A);
    EXPECT_EQ(window.seen, std::vector<QEvent::Type>{QEvent::KeyPress});
    EXPECT_EQ(calls.made, std::vector<std::string>{"cancel"});
}

} // namespace
