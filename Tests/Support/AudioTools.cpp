#include "AudioTools.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string findProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/local/bin:/usr/bin:/bin";
    std::istringstream folders(path);
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (folder.empty()) {
            continue;
        }
        const fs::path candidate = fs::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate)) {
            return candidate.string();
        }
    }
    return {};
}

std::string missingPrograms(const std::vector<std::string>& names) {
    std::string missing;
    for (const auto& name : names) {
        if (findProgram(name).empty()) {
            missing += (missing.empty() ? "" : ", ") + name;
        }
    }
    return missing.empty() ? missing : missing + " not installed (run ./scripts/setup.sh --tests)";
}

std::vector<float> tone(double seconds) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * 16000));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.3f * static_cast<float>(std::sin(0.17 * static_cast<double>(i)));
    }
    return samples;
}

std::vector<float> readWav(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) {
            value =
                (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        }
        return value;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        throw std::runtime_error(file.string() + " is not a WAV file");
    }
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size = u32(at + 4);
        if (bytes.compare(at, 4, "data") == 0) {
            std::vector<float> samples;
            const std::size_t end = std::min(bytes.size(), at + 8 + size);
            for (std::size_t i = at + 8; i + 1 < end; i += 2) {
                const auto value =
                    static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8));
                samples.push_back(static_cast<float>(value) / 32768.0f);
            }
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    throw std::runtime_error(file.string() + " has no data chunk");
}

void writeSpeech(const fs::path& file, const std::string& text) {
    // espeak-ng opens a sound-server connection even when it writes a file: on the way it makes
    // a runtime folder (in XDG_RUNTIME_DIR, else in TMPDIR with a link under ~/.config/pulse)
    // and, given PULSE_SERVER, talks to the test's server. A folder of its own, with no server
    // in it, keeps all of that away from the caller's environment and the folders tests watch.
    const fs::path own = file.string() + ".espeak";
    fs::create_directories(own / "run");
    fs::create_directories(own / "tmp");
    ::chmod((own / "run").c_str(), 0700);
    const std::vector<std::pair<std::string, std::string>> environment{
        {"HOME", own.string()},
        {"XDG_RUNTIME_DIR", (own / "run").string()},
        {"TMPDIR", (own / "tmp").string()},
        {"PULSE_SERVER", "unix:" + (own / "no-server").string()},
        {"PULSE_RUNTIME_PATH", (own / "run").string()}};
    const auto speak = [&]() -> std::string {
        const fs::path raw = own / "speech.wav";
        const auto spoken =
            runProcess({findProgram("espeak-ng"), "-w", raw.string(), text}, environment);
        if (spoken.status != 0) {
            return "espeak-ng failed: " + spoken.err;
        }
        const auto converted = runProcess({findProgram("sox"), raw.string(), "-r", "16000", "-c",
                                           "1", "-b", "16", "-e", "signed-integer", file.string()},
                                          environment);
        return converted.status == 0 ? std::string() : "sox failed: " + converted.err;
    };
    const std::string failure = speak();
    std::error_code ignored;
    fs::remove_all(own, ignored);
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
}

PulseServer::PulseServer(const fs::path& folder) : folder_(folder), runtime_(folder / "run") {
    fs::create_directories(runtime_);
    fs::create_directories(folder_ / "state");
    ::chmod(runtime_.c_str(), 0700);
    ::setenv("PULSE_SERVER", address().c_str(), 1);
    ::setenv("PULSE_COOKIE", (folder_ / "cookie").c_str(), 1);

    daemon_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{
            findProgram("pulseaudio"), "-n", "--daemonize=no", "--exit-idle-time=-1",
            "--use-pid-file=no", "--log-target=stderr",
            "--load=module-native-protocol-unix auth-anonymous=1 auth-cookie-enabled=0 socket=" +
                (runtime_ / "native").string(),
            "--load=module-null-sink sink_name=vmic_sink rate=16000 channels=1 format=float32le",
            "--load=module-remap-source source_name=vmic master=vmic_sink.monitor"},
        environment(), (folder_ / "pulseaudio.log").string());

    if (!eventually([&] { return pactl({"info"}).status == 0 || !daemon_->isRunning(); }, 10) ||
        !daemon_->isRunning()) {
        std::ifstream log(folder_ / "pulseaudio.log");
        std::stringstream text;
        text << log.rdbuf();
        throw std::runtime_error("pulseaudio did not start: " + text.str());
    }
    pactl({"set-default-sink", "vmic_sink"});
    pactl({"set-default-source", "vmic"});

    // An idle null sink's monitor delivers nothing: keep silence playing into it, with a short
    // latency, or the sink renders (and the monitor delivers) in bursts of two seconds.
    feeder_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{findProgram("pacat"), "--playback", "-d", "vmic_sink",
                                 "--format=float32le", "--rate=16000", "--channels=1",
                                 "--latency-msec=20"},
        environment(), (folder_ / "feeder.log").string(), "/dev/zero");
    const fs::path probe = folder_ / "probe.raw";
    const bool flowing = eventually(
        [&] {
            runProcess({"/usr/bin/timeout", "0.3", findProgram("parec"), "-d", "vmic",
                        "--format=float32le", "--rate=16000", "--channels=1", probe.string()},
                       environment());
            std::error_code error;
            return fs::file_size(probe, error) > 0 && !error;
        },
        10);
    if (!flowing) {
        throw std::runtime_error("the virtual microphone delivered no samples");
    }
}

PulseServer::~PulseServer() {
    player_.reset();
    feeder_.reset();
    daemon_.reset();
}

std::vector<std::pair<std::string, std::string>> PulseServer::environment() const {
    return {{"PULSE_RUNTIME_PATH", runtime_.string()},
            {"PULSE_STATE_PATH", (folder_ / "state").string()},
            {"PULSE_COOKIE", (folder_ / "cookie").string()},
            {"PULSE_SERVER", address()},
            {"HOME", folder_.string()}};
}

ProcessResult PulseServer::pactl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{findProgram("pactl")};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProcess(command, environment());
}

void PulseServer::play(const fs::path& wav) {
    player_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{findProgram("paplay"), "-d", "vmic_sink", wav.string()},
        environment(), (folder_ / "player.log").string());
}

void PulseServer::waitForPlay() {
    if (player_) {
        eventually([&] { return !player_->isRunning(); }, 30);
    }
}

void PulseServer::kill() {
    player_.reset();
    feeder_.reset();
    if (daemon_) {
        daemon_->end(9);
    }
}
