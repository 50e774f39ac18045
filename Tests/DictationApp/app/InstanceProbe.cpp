// Starts the way the app will in application mode: at most one running copy per session, and no
// window for a launch at login. Prints what it decided, one line each, then "reopen" whenever a
// later launch asks; runs until ended.
#include "app/SingleInstance.h"
#include "config/Autostart.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

void say(const char* line) {
    std::puts(line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool atLogin = Autostart::launchedAtLogin();
    SingleInstance instance(QString::fromUtf8(Paths::AppBundleID.data(),
                                              static_cast<qsizetype>(Paths::AppBundleID.size())));
    instance.onReopen = [] { say("reopen"); };
    switch (instance.claim(!atLogin)) {
    case SingleInstance::Claim::handedOver:
        say("handed over");
        return 0;
    case SingleInstance::Claim::alone:
        say("alone");
        break;
    case SingleInstance::Claim::first:
        say("first");
        break;
    }
    say(atLogin ? "no window" : "window");
    return app.exec();
}
