// parlwick-models: puts the model files dictation needs into the models folder, the same way
// the app does: resumed, retried and checked.
//
//   parlwick-models [--into FOLDER] [--from ADDRESS] [--check] [--patience N]
#include "FileError.h"
#include "models/FileDigest.h"
#include "models/ModelAddress.h"
#include "models/ModelDownloader.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"

#include <QCoreApplication>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int failureStatus = 1;
constexpr int badUsageStatus = 2;
constexpr int gaveUpStatus = 3;

const std::string usage =
    "usage: parlwick-models [--into FOLDER] [--from ADDRESS] [--check] [--patience N]\n"
    "\n"
    "Fetches the model files dictation needs, resuming what an earlier run left and checking\n"
    "each file's SHA-256 before it is kept.\n"
    "  --into FOLDER     where they go (default: the models folder this program uses)\n"
    "  --from ADDRESS    the model host (default: the installed tree's, else the public one)\n"
    "  --check           also check the files already there; one that does not match is\n"
    "                    removed and fetched again\n"
    "  --patience N      give up after N interruptions in a row that brought no progress\n"
    "                    (default: keep trying)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Arguments {
    std::optional<fs::path> folder;
    std::optional<std::string> base;
    bool check = false;
    std::optional<int> patience;
    bool help = false;
};

Arguments parse(const std::vector<std::string>& words) {
    Arguments arguments;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= words.size()) {
                throw UsageError(word + " needs a value");
            }
            return words[++i];
        };
        if (word == "--into") {
            arguments.folder = fs::path(value());
        } else if (word == "--from") {
            arguments.base = value();
        } else if (word == "--check") {
            arguments.check = true;
        } else if (word == "--patience") {
            const std::string& text = value();
            int number = 0;
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), number);
            if (error != std::errc() || end != text.data() + text.size() || number < 1) {
                throw UsageError("--patience needs a whole number of at least 1");
            }
            arguments.patience = number;
        } else if (word == "--help" || word == "-h") {
            arguments.help = true;
        } else {
            throw UsageError("unknown option " + word);
        }
    }
    return arguments;
}

// A file already there that does not match is removed, so it is fetched again.
bool checkPresent(const fs::path& folder, const ModelDownloader::Model& model) {
    const fs::path file = folder / model.name;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        return true;
    }
    std::cout << "model " << model.name << ": checking" << std::endl;
    try {
        if (FileDigest::sha256(file) == model.sha256) {
            return true;
        }
    } catch (const FileError& failure) {
        std::cerr << "parlwick-models: " << failure.description() << '\n';
        return false;
    }
    std::cout << "model " << model.name << ": does not match its SHA-256, fetching it again"
              << std::endl;
    if (!fs::remove(file, error)) {
        std::cerr << "parlwick-models: couldn't remove " << file.string() << ": " << error.message()
                  << '\n';
        return false;
    }
    return true;
}

void sayWhereTheyGo(const fs::path& folder, const std::vector<ModelDownloader::Model>& models) {
    for (const auto& model : models) {
        std::cout << "Could not download " << model.name << ". To dictate, put it here by hand:\n  "
                  << (folder / model.name).string() << "\nfrom " << model.url << "\nwith SHA-256 "
                  << model.sha256 << '\n';
    }
}

// Percentages on one rewritten line on a terminal, every tenth elsewhere.
class ProgressLine {
  public:
    void begin(const std::string& name) {
        end();
        shown_ = -1;
        if (name != name_) {
            name_ = name;
            std::cout << "model " << name << ": downloading" << std::endl;
        }
    }
    void show(int percent) {
        if (terminal_) {
            std::cout << "\r  " << percent << "%" << std::flush;
            open_ = true;
        } else if (percent / 10 != shown_ / 10 || shown_ < 0) {
            std::cout << "  " << percent << "%" << std::endl;
        }
        shown_ = percent;
    }
    void end() {
        if (open_) {
            std::cout << '\n';
            open_ = false;
        }
    }

  private:
    const bool terminal_ = ::isatty(STDOUT_FILENO) == 1;
    std::string name_;
    int shown_ = -1;
    bool open_ = false;
};

int fetch(const Arguments& arguments, int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const Paths paths = Paths::forThisProcess();
    const fs::path folder = arguments.folder ? *arguments.folder : paths.models();
    const std::string base = arguments.base ? *arguments.base : ModelAddress::base(paths);
    if (const auto problem = ModelAddress::problem(ModelDownloader::required(base).front().url)) {
        std::cerr << "parlwick-models: " << base << ": " << *problem << '\n';
        return badUsageStatus;
    }
    Log log("parlwick-models", std::nullopt);
    MainLoopScheduler scheduler;
    ModelDownloader downloader(folder, ModelDownloader::required(base), scheduler);

    if (arguments.check) {
        for (const auto& model : ModelDownloader::required(base)) {
            if (!checkPresent(folder, model)) {
                return failureStatus;
            }
        }
    }
    for (const auto& model : ModelDownloader::required(base)) {
        if (fs::exists(folder / model.name)) {
            std::cout << "model " << model.name << ": present" << std::endl;
        }
    }

    ProgressLine line;
    int status = 0;
    int fruitless = 0;
    downloader.onFetch = [&](const ModelDownloader::Model& model) { line.begin(model.name); };
    downloader.onProgress = [&](int percent) {
        fruitless = 0;
        line.show(percent);
    };
    downloader.onRetry = [&](const std::string&) {
        line.end();
        if (arguments.patience && ++fruitless >= *arguments.patience) {
            sayWhereTheyGo(folder, downloader.missing());
            status = gaveUpStatus;
            QCoreApplication::exit(status);
        }
    };
    downloader.onFinish = [&](const std::optional<std::string>& error) {
        line.end();
        if (error) {
            std::cerr << "parlwick-models: " << *error << '\n';
            sayWhereTheyGo(folder, downloader.missing());
            status = failureStatus;
        } else {
            std::cout << "models: all in place in " << folder.string() << std::endl;
        }
        QCoreApplication::exit(status);
    };
    downloader.start();
    QCoreApplication::exec();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    try {
        arguments = parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "parlwick-models: " << error.what() << "\n\n" << usage << '\n';
        return badUsageStatus;
    }
    if (arguments.help) {
        std::cout << usage << '\n';
        return 0;
    }
    return fetch(arguments, argc, argv);
}
