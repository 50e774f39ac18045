#include "housekeeping/Uninstaller.h"

#include "config/Autostart.h"
#include "connector/Connections.h"
#include "platform/Log.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QString>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool isThere(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Whether `path` lies in `folder` (both as given, without following links).
bool isInside(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
    return !relative.empty() && *relative.begin() != "..";
}

void report(Uninstaller::Outcome& outcome, std::string problem) {
    log(problem);
    outcome.problems.push_back(std::move(problem));
}

// The user's own install: the tree lies in their home and its program is theirs.
bool isTheUsers(const Paths& paths) {
    const auto& bundle = paths.bundle();
    if (!bundle) {
        return false;
    }
    struct stat info {};
    return isInside(bundle->prefix, paths.homes().home) &&
           ::lstat(paths.executable().c_str(), &info) == 0 && info.st_uid == ::getuid();
}

} // namespace

std::vector<fs::path> Uninstaller::leftovers(const Paths& paths) {
    return {paths.support(), paths.cache(), paths.crashes().parent_path(),
            paths.settings().parent_path()};
}

std::vector<fs::path> Uninstaller::installedFiles(const Paths& paths) {
    const auto& bundle = paths.bundle();
    if (!bundle) {
        return {};
    }
    const fs::path& prefix = bundle->prefix;
    const std::string& id = bundle->identifier;
    std::vector<fs::path> files{prefix / "bin" / "parlwick",
                                prefix / "bin" / "parlwick-clean",
                                prefix / "bin" / "parlwick-models",
                                prefix / "libexec" / "parlwick",
                                prefix / "share" / "parlwick",
                                prefix / "share" / "applications" / (id + ".desktop"),
                                prefix / "share" / "metainfo" / (id + ".metainfo.xml")};
    std::error_code error;
    for (const auto& size : fs::directory_iterator(prefix / "share" / "icons" / "hicolor", error)) {
        for (const char* kind : {".png", ".svg"}) {
            files.push_back(size.path() / "apps" / (id + kind));
        }
    }
    std::erase_if(files, [](const fs::path& file) { return !isThere(file); });
    return files;
}

Uninstaller::Outcome Uninstaller::run(const Paths& paths) {
    Outcome outcome;
    for (const ConnectedApp app : ConnectedApps::allCases) {
        if (!ConnectedApps::isConnected(app, paths)) {
            continue;
        }
        try {
            ConnectedApps::set(app, false, paths);
        } catch (const std::exception& error) {
            report(outcome, "uninstall: couldn't disconnect " +
                                std::string(ConnectedApps::rawValue(app)) + ": " + error.what());
        }
    }

    try {
        Autostart::set(paths, false);
    } catch (const std::exception&) {
        // Nothing to undo: a missing entry is the goal.
    }

    // Its folder goes now: a later line must not bring it back.
    Log::leaveFile();
    for (const fs::path& folder : leftovers(paths)) {
        if (!isThere(folder)) {
            continue;
        }
        std::error_code error;
        fs::remove_all(folder, error);
        if (error) {
            report(outcome, "uninstall: couldn't remove " + folder.filename().string() + ": " +
                                error.message());
        }
    }

    if (!paths.bundle()) {
        return outcome; // a build-tree binary: nothing was installed
    }
    if (!isTheUsers(paths)) {
        outcome.packageAdvice = "The program itself was installed for every user of this "
                                "computer. To remove it too, run: sudo apt remove parlwick";
        log("uninstall: installed for all users, left to the package manager");
        return outcome;
    }
    for (const fs::path& file : installedFiles(paths)) {
        if (!QFile::moveToTrash(QString::fromStdString(file.string()))) {
            report(outcome, "uninstall: couldn't move the app to the Trash: " + file.string());
        } else {
            outcome.trashed.push_back(file);
        }
    }
    return outcome;
}

void Uninstaller::runAndQuit(const Paths& paths) {
    const Outcome outcome = run(paths);
    if (outcome.packageAdvice) {
        QMessageBox::information(nullptr, QString::fromStdString(paths.appName()),
                                 QString::fromStdString(*outcome.packageAdvice));
    }
    // Not quit(): it would ask the windows to close, and a closing window keeps its frame in
    // the settings that just went.
    QCoreApplication::exit(0);
}
