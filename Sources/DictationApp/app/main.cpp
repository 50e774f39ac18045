#include "connector/ConnectorServer.h"
#include "platform/Log.h"
#include "Options.h"
#include "platform/Paths.h"
#include "app/Startup.h"
#include "desktop/x11/X11Desktop.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The speech-check model first, then the recogniser.
constexpr const char* requiredModels[] = {"ggml-silero-v5.1.2.bin", "ggml-large-v3-turbo-q5_0.bin"};

constexpr int badUsageStatus = 2;

[[noreturn]] void quit(int status) {
    LogFile::flush();
    std::exit(status);
}

} // namespace

int main(int argc, char** argv) {
    // An AI app started us as its connector server: nothing else of the app is made.
    for (int i = 0; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--mcp") {
            ConnectorServer::run();
        }
    }

    // Writing to a speech tool that has died must not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    if (Paths::isApp()) {
        Paths::extendSearchPath();
    }
    // Most PC keyboards never report fn, so both modes start with right Alt.
    const HotKey launchKey = HotKey::rightOption;

    Options options;
    try {
        options = Options::parse(std::vector<std::string>(argv + 1, argv + argc), launchKey);
    } catch (const Options::ParseError& error) {
        log(error.description() + "\n\n" + Options::usage());
        quit(badUsageStatus);
    }
    if (options.showHelp) {
        std::fputs((Options::usage() + "\n").c_str(), stdout);
        quit(0);
    }

    if (!Paths::isApp()) {
        for (const char* model : requiredModels) {
            if (!std::filesystem::exists(Paths::models() / model)) {
                log("models missing in " + Paths::models().string() +
                    ". Run ./scripts/setup.sh from the repo folder.");
                quit(1);
            }
        }
    }

    // Wayland sessions reach the X11 backend through Xwayland, so our windows are X11 ones too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    int status = 1;
    try {
        // Lives until the process ends: the warm-up thread may still be using it.
        static Startup startup(
            options, {X11Desktop::missingAccess, X11Desktop::make, X11Desktop::makeKeyListener});
        status = startup.runTerminal(argc, argv);
    } catch (const std::exception& error) {
        log(std::string("could not start dictation: ") + error.what());
    }
    // The warm-up may still be talking to the speech engine; the process ends without waiting
    // for it, which also closes the engine's keep-alive pipe.
    LogFile::flush();
    std::fflush(nullptr);
    std::_Exit(status);
}
