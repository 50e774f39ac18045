// Uninstalls as the program at EXECUTABLE would, for this user, then exits:
//   uninstall-probe EXECUTABLE
#include "housekeeping/Uninstaller.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    QCoreApplication app(argc, argv);
    Log log("Parlwick", std::nullopt);
    const std::filesystem::path executable = argv[1];
    const Paths paths(executable, Paths::bundleFor(executable), Paths::Homes::fromEnvironment(),
                      std::filesystem::current_path());
    const Uninstaller::Outcome outcome = Uninstaller::run(paths);
    for (const auto& file : outcome.trashed) {
        std::cout << "trashed " << file.string() << '\n';
    }
    if (outcome.packageAdvice) {
        std::cout << *outcome.packageAdvice << '\n';
    }
    return 0;
}
