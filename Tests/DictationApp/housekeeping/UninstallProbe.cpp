// Uninstalls as the program at EXECUTABLE would, for this user, and quits the way the app
// does:
//   uninstall-probe EXECUTABLE
#include "housekeeping/Uninstaller.h"
#include "platform/Log.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    QApplication app(argc, argv);
    Log log("Parlwick", std::nullopt);
    const std::filesystem::path executable = argv[1];
    const Paths paths(executable, Paths::bundleFor(executable), Paths::Homes::fromEnvironment(),
                      std::filesystem::current_path());
    if (const char* quits = std::getenv("UNINSTALL_AND_QUIT"); quits && *quits) {
        // The app's own path: only quitting ends the event loop, and so this process.
        QTimer::singleShot(0, [&paths] { Uninstaller::runAndQuit(paths); });
        return QApplication::exec();
    }
    const Uninstaller::Outcome outcome = Uninstaller::run(paths);
    for (const auto& file : outcome.trashed) {
        std::cout << "trashed " << file.string() << '\n';
    }
    if (outcome.packageAdvice) {
        std::cout << *outcome.packageAdvice << '\n';
    }
    return 0;
}
