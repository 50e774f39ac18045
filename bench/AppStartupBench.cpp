// Targets, with 100 000 dictations in the history: the installed app is ready to dictate (its
// "ready. hold right Alt to talk" line) within 1 s of its launch, and holds under 150 MB
// resident then.
//
// The real thing, as a user starts it: the Release build installed into a private prefix, a
// private home whose history, totals, settings and generated models are those of a year's heavy
// use, launched inside a private X session (this program runs itself under desktop-session.sh)
// with a tray host and, when PulseAudio is installed, a sound server with a microphone. Each
// launch is timed from the spawn to the ready line on its standard error, then ended with
// SIGTERM before the next one. The line does not wait for the speech server, so the server's
// model load is not part of the time; the server is its own process and its resident size is
// reported apart (with the generated model it is the server's own size, not a real model's).
#include "AudioTools.h"
#include "BackgroundProcess.h"
#include "Calendar.h"
#include "HotKey.h"
#include "ProcessRunner.h"
#include "Resident.h"
#include "RunBenchmarks.h"
#include "SampleHistory.h"
#include "SpeechModels.h"
#include "TestModels.h"
#include "config/Settings.h"
#include "platform/Paths.h"
#include "speech/VoiceActivityCheck.h"
#include "speech/WhisperServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QThread>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Steady = std::chrono::steady_clock;

constexpr int launches = 5;
constexpr double readyTargetMs = 1000;
constexpr double residentTargetMB = 150;

double millisecondsBetween(Steady::time_point from, Steady::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double megabytes(long kilobytes) {
    return static_cast<double>(kilobytes) / 1024.0;
}

// The whisper-server the app started (under the shell that watches it), once it is there.
std::optional<pid_t> serverOf(pid_t app) {
    for (pid_t child : childrenOf(app)) {
        if (fs::path(commandOf(child)).filename() == "whisper-server") {
            return child;
        }
        if (const auto below = serverOf(child)) {
            return below;
        }
    }
    return std::nullopt;
}

// The installed tree, made once, and the desktop around it.
struct World {
    fs::path root;
    std::string missing; // why the bench cannot run, when it cannot
    std::string notes;   // what of a real desktop is absent
    fs::path executable;
    std::optional<Paths::Bundle> bundle;
    std::unique_ptr<PulseServer> pulse;
    std::unique_ptr<BackgroundProcess> tray;

    World() {
        if (const char* reason = std::getenv("PARLWICK_DESKTOP_MISSING")) {
            missing = std::string("no desktop: ") + reason;
            return;
        }
        if (!std::getenv("DISPLAY")) {
            missing = "no desktop: not started through desktop-session.sh";
            return;
        }
        std::string pattern = (fs::temp_directory_path() / "parlwick-startup-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            missing = "no temporary folder";
            return;
        }
        root = pattern;
        const fs::path prefix = root / "prefix";
        const auto installed = runProcess({"/usr/bin/env", "cmake", "--install", PARLWICK_BUILD_DIR,
                                           "--prefix", prefix.string()});
        if (installed.status != 0) {
            missing = "cmake --install failed: " + installed.err;
            return;
        }
        executable = prefix / "bin/parlwick";
        bundle = Paths::bundleFor(executable);
        if (!bundle) {
            missing = "the installed tree has no bundle.json";
            return;
        }

        // A tray to sit in and a microphone to find.
        if (fs::exists("/usr/bin/trayer")) {
            tray = std::make_unique<BackgroundProcess>(std::vector<std::string>{
                "/usr/bin/trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                "--width", "120", "--heighttype", "pixel", "--height", "28"});
            QElapsedTimer waited;
            waited.start();
            while (!QSystemTrayIcon::isSystemTrayAvailable() && waited.elapsed() < 10'000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                QThread::msleep(10);
            }
        }
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            notes += "; no tray host";
        }
        if (missingPrograms({"pulseaudio", "pactl", "pacat"}).empty()) {
            try {
                pulse = std::make_unique<PulseServer>(root / "pulse"); // sets PULSE_SERVER
            } catch (const std::exception& error) {
                notes += std::string("; no sound server: ") + error.what();
            }
        } else {
            notes += "; no sound server";
        }
    }

    // A home of a year's standing with `dictations` in its history: setup done, everything
    // kept, the models in place. The environment variables that point the app at it.
    std::vector<std::string> home(std::size_t dictations) const {
        const Paths::Homes homes =
            Paths::Homes::under(root / ("home-" + std::to_string(dictations)));
        const Paths paths(executable, bundle, homes, root);
        const SettingsFile settings(paths.settings());
        settings.set(SettingKeys::retention, Retention::forever);
        settings.set(SettingKeys::hasCompletedSetup, true);
        SampleHistory::write(paths.history(), paths.totals(), dictations,
                             std::chrono::system_clock::now(), Calendar::current());
        fs::create_directories(paths.models());
        TestModels::writeWhisper(paths.models() / SpeechModels::standard().file,
                                 "so the plan for tomorrow is to meet at nine");
        TestModels::writeVoiceActivity(VoiceActivityCheck::SpeechTool::standard(paths).model);

        std::vector<std::string> environment;
        for (char** variable = environ; *variable; ++variable) {
            const std::string_view entry(*variable);
            if (!entry.starts_with("HOME=") && !entry.starts_with("XDG_DATA_HOME=") &&
                !entry.starts_with("XDG_CONFIG_HOME=") && !entry.starts_with("XDG_STATE_HOME=") &&
                !entry.starts_with("XDG_CACHE_HOME=")) {
                environment.emplace_back(entry);
            }
        }
        for (const auto& [name, folder] : {std::pair{"HOME", homes.home},
                                           {"XDG_DATA_HOME", homes.data},
                                           {"XDG_CONFIG_HOME", homes.config},
                                           {"XDG_STATE_HOME", homes.state},
                                           {"XDG_CACHE_HOME", homes.cache}}) {
            fs::create_directories(folder);
            environment.push_back(std::string(name) + "=" + folder.string());
        }
        environment.emplace_back("GGML_NO_BACKTRACE=1");
        return environment;
    }

    ~World() {
        tray.reset();
        pulse.reset();
        if (!root.empty()) {
            std::error_code ignored;
            fs::remove_all(root, ignored);
        }
    }
};

std::unique_ptr<World> made;

World& world() {
    if (!made) {
        made = std::make_unique<World>();
    }
    return *made;
}

// What one launch measured.
struct Launch {
    std::string failure; // empty when it got ready
    double readyMs = 0;
    long residentAtReady = 0; // kB
    // The main thread's time on a processor and waiting for one, until ready: what the launch
    // cost, and how much of its wait a busy machine added.
    double mainCpuMs = 0;
    double mainWaitMs = 0;
    long pageFaults = 0;     // minor faults of the whole process until ready
    long residentLater = 0;  // kB, a second after ready: the window drawn
    long serverResident = 0; // kB, the whisper-server child at the same moment
};

// The main thread's time on a processor and waiting in the run queue, in ms.
std::pair<double, double> scheduledMilliseconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double running = 0, waiting = 0;
    in >> running >> waiting;
    return {running / 1e6, waiting / 1e6};
}

// Minor page faults of the whole process (field 10 of /proc/<pid>/stat).
long minorFaults(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 10 && fields >> field; ++i) {
    }
    return std::strtol(field.c_str(), nullptr, 10);
}

// Reads the app's standard error until `until`, or until a line holds `wanted`; whether it did.
class ErrorReader {
  public:
    explicit ErrorReader(int fd) : fd_(fd) {}

    bool readUntil(Steady::time_point until, const std::string& wanted = {}) {
        char buffer[4096];
        while (true) {
            if (!wanted.empty() && text.find(wanted) != std::string::npos) {
                return true;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Steady::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd in{fd_, POLLIN, 0};
            const int ready = ::poll(&in, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                continue; // the loop sees the time is up
            }
            const ssize_t count = ::read(fd_, buffer, sizeof buffer);
            if (count <= 0) {
                return false; // the app ended
            }
            text.append(buffer, static_cast<std::size_t>(count));
        }
    }

    std::string text;

  private:
    int fd_;
};

// Ends the app and, should it be left behind, its server; waits for both to be gone.
void end(pid_t app, std::optional<pid_t> server, ErrorReader& reader) {
    ::kill(app, SIGTERM);
    int status = 0;
    const auto deadline = Steady::now() + std::chrono::seconds(10);
    while (::waitpid(app, &status, WNOHANG) == 0) {
        if (Steady::now() > deadline) {
            ::kill(app, SIGKILL);
            ::waitpid(app, &status, 0);
            break;
        }
        reader.readUntil(Steady::now() + std::chrono::milliseconds(10));
    }
    if (server && !eventually([&] { return !processIsAlive(*server); }, 5)) {
        ::kill(*server, SIGKILL);
    }
}

Launch launch(const fs::path& executable, const std::vector<std::string>& environment) {
    const std::string readyLine =
        "ready. hold " + std::string(HotKeys::label(HotKey::rightOption)) + " to talk";
    Launch result;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        result.failure = "no pipe";
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
    const std::string program = executable.string();
    char* arguments[] = {const_cast<char*>(program.c_str()), nullptr};
    std::vector<char*> variables;
    for (const std::string& variable : environment) {
        variables.push_back(const_cast<char*>(variable.c_str()));
    }
    variables.push_back(nullptr);

    pid_t app = 0;
    const auto launched = Steady::now();
    const int spawned =
        ::posix_spawn(&app, program.c_str(), &actions, nullptr, arguments, variables.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (spawned != 0) {
        ::close(pipe[0]);
        result.failure = "could not start " + program;
        return result;
    }
    ErrorReader reader(pipe[0]);
    const bool ready = reader.readUntil(launched + std::chrono::seconds(30), readyLine);
    const auto readyAt = Steady::now();
    result.residentAtReady = residentKilobytes(app);
    std::tie(result.mainCpuMs, result.mainWaitMs) = scheduledMilliseconds(app);
    result.pageFaults = minorFaults(app);
    if (!ready) {
        result.failure = "no ready line; the app wrote:\n" + reader.text;
        end(app, serverOf(app), reader);
        ::close(pipe[0]);
        return result;
    }
    result.readyMs = millisecondsBetween(launched, readyAt);

    // A second on, the window is drawn and the warm-up has started the server.
    reader.readUntil(readyAt + std::chrono::seconds(1));
    result.residentLater = residentKilobytes(app);
    std::optional<pid_t> server;
    eventually([&] { return (server = serverOf(app)).has_value(); }, 5);
    if (server) {
        result.serverResident = residentKilobytes(*server);
    }
    end(app, server, reader);
    ::close(pipe[0]);
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Launch to ready, each launch one iteration, with the history holding state.range(0)
// dictations. The first launch, with the files not yet in the page cache, is made before the
// timed ones and reported apart.
void StartToReady(benchmark::State& state) {
    World& w = world();
    if (!w.missing.empty()) {
        state.SkipWithError(w.missing.c_str());
        return;
    }
    const auto dictations = static_cast<std::size_t>(state.range(0));
    const std::vector<std::string> environment = w.home(dictations);
    const Launch first = launch(w.executable, environment);
    if (!first.failure.empty()) {
        state.SkipWithError(first.failure.c_str());
        return;
    }
    std::vector<double> ready, atReady, later, server, cpu, wait, faults;
    for (auto _ : state) {
        const Launch run = launch(w.executable, environment);
        if (!run.failure.empty()) {
            state.SkipWithError(run.failure.c_str());
            return;
        }
        ready.push_back(run.readyMs);
        atReady.push_back(megabytes(run.residentAtReady));
        later.push_back(megabytes(run.residentLater));
        server.push_back(megabytes(run.serverResident));
        cpu.push_back(run.mainCpuMs);
        wait.push_back(run.mainWaitMs);
        faults.push_back(static_cast<double>(run.pageFaults));
        state.SetIterationTime(run.readyMs / 1000);
    }
    auto& c = state.counters;
    c["dictations"] = static_cast<double>(dictations);
    c["ready_ms"] = median(ready);
    c["ready_target_ms"] = readyTargetMs;
    c["worst_ms"] = *std::max_element(ready.begin(), ready.end());
    c["first_ms"] = first.readyMs;
    c["rss_ready_MB"] = median(atReady);
    c["rss_1s_MB"] = median(later);
    c["rss_target_MB"] = residentTargetMB;
    c["server_rss_MB"] = median(server);
    c["main_cpu_ms"] = median(cpu);
    c["main_wait_ms"] = median(wait);
    c["page_faults"] = median(faults);

    char label[400];
    std::snprintf(label, sizeof label,
                  "ready %.0f ms (target %.0f; main thread %.0f ms running, %.0f ms waiting for a "
                  "processor), %.0f MB at ready, %.0f MB a second on (target "
                  "%.0f); whisper-server %.0f MB apart%s",
                  median(ready), readyTargetMs, median(cpu), median(wait), median(atReady),
                  median(later), residentTargetMB, median(server), w.notes.c_str());
    state.SetLabel(label);
}
// The empty history shows what the rest of start-up costs.
BENCHMARK(StartToReady)
    ->Arg(100'000)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(launches)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Runs itself in a private desktop of its own, once.
    if (!std::getenv("DISPLAY") && !std::getenv("PARLWICK_DESKTOP_MISSING")) {
        std::vector<char*> command{const_cast<char*>(PARLWICK_DESKTOP_SESSION)};
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        command.push_back(const_cast<char*>(self.c_str()));
        for (int i = 1; i < argc; ++i) {
            command.push_back(argv[i]);
        }
        command.push_back(nullptr);
        ::execv(PARLWICK_DESKTOP_SESSION, command.data());
        std::perror("desktop-session.sh");
        return 1;
    }
    // This program's own Qt connection only asks whether a tray is there.
    qputenv("QT_QPA_PLATFORM", std::getenv("DISPLAY") ? "xcb" : "offscreen");
    int status = 0;
    {
        QApplication app(argc, argv);
        status = runBenchmarks(argc, argv);
        made.reset();
    }
    return status;
}
