#include "speech/WhisperServer.h"

#include "Cleanup.h"
#include "Files.h"
#include "Text.h"
#include "Uuid.h"
#include "Vocabulary.h"
#include "WavEncoder.h"
#include "platform/AppError.h"
#include "platform/Log.h"
#include "platform/Subprocess.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <curl/curl.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sched.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// libcurl: blocking easy handles on the calling thread. A request that may have to give way
// runs through a multi handle, which another thread can wake to end it at once.
constexpr const char* gaveWay = "whisper request gave way";

struct Reply {
    long status = 0;
    std::string body;
};

class Http {
  public:
    Http() {
        static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
        if (initialised != CURLE_OK || !(handle_ = curl_easy_init())) {
            throw AppError::process("could not set up HTTP");
        }
    }
    ~Http() {
        if (multi_) {
            curl_multi_remove_handle(multi_, handle_);
            curl_multi_cleanup(multi_);
        }
        curl_slist_free_all(headers_);
        curl_easy_cleanup(handle_);
    }
    Http(const Http&) = delete;
    Http& operator=(const Http&) = delete;

    // Throws AppError with curl's reason when no HTTP reply arrived at all.
    Reply get(const std::string& url, std::chrono::milliseconds limit) {
        prepare(url, limit);
        return perform();
    }

    Reply post(const std::string& url, const std::string& body, const std::string& contentType,
               std::chrono::milliseconds limit, const std::atomic<bool>* cancelled = nullptr) {
        prepare(url, limit);
        headers_ = curl_slist_append(headers_, ("Content-Type: " + contentType).c_str());
        // No "Expect: 100-continue" round trip before larger bodies.
        headers_ = curl_slist_append(headers_, "Expect:");
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(body.size()));
        return cancelled ? performUnless(*cancelled) : perform();
    }

    // A multi handle for performUnless, made before the request so that wake can reach it.
    CURLM* multi() {
        if (!multi_ && !(multi_ = curl_multi_init())) {
            throw AppError::process("could not set up HTTP");
        }
        return multi_;
    }

  private:
    void prepare(const std::string& url, std::chrono::milliseconds limit) {
        curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
        // The server is on the loopback interface: never through a proxy from the environment.
        curl_easy_setopt(handle_, CURLOPT_PROXY, "");
        curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, error_);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &reply_.body);
        curl_easy_setopt(
            handle_, CURLOPT_WRITEFUNCTION,
            +[](char* data, std::size_t size, std::size_t count, void* body) {
                static_cast<std::string*>(body)->append(data, size * count);
                return size * count;
            });
    }

    Reply perform() {
        error_[0] = '\0';
        if (const CURLcode code = curl_easy_perform(handle_); code != CURLE_OK) {
            throw failure(code);
        }
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &reply_.status);
        return std::move(reply_);
    }

    // Ends the transfer, and so its connection, as soon as `cancelled` is set and the multi
    // handle woken: the server stops computing for a client that left.
    Reply performUnless(const std::atomic<bool>& cancelled) {
        error_[0] = '\0';
        CURLM* multi = this->multi();
        curl_multi_add_handle(multi, handle_);
        for (;;) {
            if (cancelled) {
                throw AppError::process(gaveWay);
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                throw AppError::process("whisper request failed: the transfer broke");
            }
            if (running == 0) {
                break;
            }
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        int queued = 0;
        CURLcode code = CURLE_OK;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == handle_) {
                code = message->data.result;
            }
        }
        if (code != CURLE_OK) {
            throw failure(code);
        }
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &reply_.status);
        return std::move(reply_);
    }

    AppError failure(CURLcode code) const {
        return AppError::process("whisper request failed: " +
                                 std::string(error_[0] ? error_ : curl_easy_strerror(code)));
    }

    CURL* handle_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
    char error_[CURL_ERROR_SIZE] = {};
    Reply reply_;
};

std::string serverURL(int port, std::string_view path) {
    return "http://127.0.0.1:" + std::to_string(port) + std::string(path);
}

// "/" and 16 bytes from the kernel's generator in hex: nothing another user or a web page could
// guess, and nothing earlier requests reveal.
std::string randomRequestPath() {
    unsigned char bytes[16];
    for (std::size_t filled = 0; filled < sizeof bytes;) {
        const ssize_t got =
            Files::retrying([&] { return ::getrandom(bytes + filled, sizeof bytes - filled, 0); });
        if (got < 0) {
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += static_cast<std::size_t>(got);
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string path = "/";
    for (const unsigned char byte : bytes) {
        path += digits[byte >> 4];
        path += digits[byte & 0x0F];
    }
    return path;
}

// Bound here without SO_REUSEADDR or SO_REUSEPORT, a port fails to bind while any socket of any
// user holds it, on the loopback or the wildcard address.
bool portIsFree(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// The socket inodes of every TCP listener on `port`, on any address, IPv4 and IPv6; nothing
// when the kernel's table cannot be read.
std::optional<std::vector<std::string>> listenersOn(int port) {
    std::vector<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        if (!in) {
            // Without IPv6 there is no second table.
            if (table == std::string_view("/proc/net/tcp")) {
                return std::nullopt;
            }
            continue;
        }
        std::string line;
        std::getline(in, line); // the column names
        while (std::getline(in, line)) {
            // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid
            // timeout inode ...
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >>
                  uid >> timeout >> inode) ||
                state != "0A") {
                continue;
            }
            const auto colon = local.rfind(':');
            int localPort = -1;
            if (colon != std::string::npos) {
                std::from_chars(local.data() + colon + 1, local.data() + local.size(), localPort,
                                16);
            }
            if (localPort == port) {
                inodes.push_back(inode);
            }
        }
    }
    return inodes;
}

// The socket inodes among a process's open descriptors ("socket:[12345]").
std::set<std::string> socketsOf(pid_t pid) {
    std::set<std::string> inodes;
    std::error_code error;
    std::filesystem::directory_iterator entry("/proc/" + std::to_string(pid) + "/fd", error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code unreadable;
        const std::string target =
            std::filesystem::read_symlink(entry->path(), unreadable).string();
        if (!unreadable && target.starts_with("socket:[") && target.ends_with(']')) {
            inodes.insert(target.substr(8, target.size() - 9));
        }
    }
    return inodes;
}

// Whether every one of these socket inodes is among the process's descriptors.
bool holdsEvery(pid_t pid, const std::vector<std::string>& inodes) {
    const std::set<std::string> held = socketsOf(pid);
    return std::ranges::all_of(inodes,
                               [&](const std::string& inode) { return held.contains(inode); });
}

} // namespace

// The wrapper shell, leading a process group that holds the server, and the writing end of its
// standard input. Dropping it ends the whole group and waits until the server is gone, so two
// of our servers never compute at once. A reader follows the server's own report for the
// device it computes on.
class WhisperServer::Child {
  public:
    Child(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
          const std::filesystem::path& workingFolder, std::shared_ptr<std::mutex> deviceLock,
          std::shared_ptr<Device> device)
        : deviceLock_(std::move(deviceLock)), device_(std::move(device)) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe");
        }
        int report[2];
        if (::pipe2(report, O_CLOEXEC) != 0) {
            const int error = errno;
            ::close(ends[0]);
            ::close(ends[1]);
            throw std::system_error(error, std::generic_category(), "pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, report[1], STDOUT_FILENO);
        // Never the caller's folder: ggml and the server read files relative to it.
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        std::vector<std::string> variables = environment;
        std::vector<char*> envp;
        for (auto& variable : variables) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        const int error = spawnProgram(pid_, arguments, &actions, &attributes, envp.data());
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[0]);
        ::close(report[1]);
        if (error != 0) {
            ::close(ends[1]);
            ::close(report[0]);
            throw std::system_error(error, std::generic_category(), "could not launch whisper");
        }
        keepAlive_ = ends[1];
        reader_ = std::jthread([this, fd = report[0]](std::stop_token stop) { read(fd, stop); });
    }

    ~Child() {
        closeKeepAlive();
        const pid_t server = serverPid(std::chrono::milliseconds(0));
        // The whole group at once: a server busy with a request would finish it first on
        // SIGTERM, and computing beside its successor halves what the successor gets.
        ::kill(-pid_, SIGKILL);
        Files::retrying([&] { return ::waitpid(pid_, nullptr, 0); });
        exited_ = true;
        // The server was reparented when the shell died; it is gone once its parent reaps it.
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (server > 0 && isAlive(server) && Clock::now() < deadline) {
            ::kill(server, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        reader_.request_stop();
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool isRunning() {
        if (exited_) {
            return false;
        }
        const pid_t result = ::waitpid(pid_, nullptr, WNOHANG);
        exited_ = result == pid_ || (result < 0 && errno == ECHILD);
        return !exited_;
    }

    void closeKeepAlive() {
        if (keepAlive_ >= 0) {
            ::close(keepAlive_);
            keepAlive_ = -1;
        }
    }

    pid_t pid() const { return pid_; }

    // The server's own process id, which the wrapper writes first thing; 0 when it wrote none
    // within `wait`.
    pid_t serverPid(std::chrono::milliseconds wait = std::chrono::seconds(2)) {
        std::unique_lock guard(reportLock_);
        reported_.wait_for(guard, wait, [this] { return serverPid_ != 0 || reportEnded_; });
        return serverPid_;
    }

  private:
    // A process that exists and is no zombie.
    static bool isAlive(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) {
            return false;
        }
        const auto close = line.rfind(')');
        return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
    }

    // The first line is the server's pid; the rest is the server's own output, of which only
    // what names the device is kept. Lines are cut at 1 KB, and nothing else is kept.
    void read(int fd, const std::stop_token& stop) {
        std::string line;
        bool first = true;
        char buffer[4096];
        for (;;) {
            pollfd ready{fd, POLLIN, 0};
            const int polled =
                Files::pollUntil(&ready, 1, Clock::now() + std::chrono::milliseconds(100));
            if (polled < 0) {
                break;
            }
            // What the server wrote before it ended is still read: it may name the device
            // that failed.
            if (polled == 0) {
                if (stop.stop_requested()) {
                    break;
                }
                continue;
            }
            const ssize_t got = Files::readSome(fd, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            for (ssize_t i = 0; i < got; ++i) {
                if (buffer[i] != '\n') {
                    if (line.size() < 1024) {
                        line += buffer[i];
                    }
                    continue;
                }
                if (first) {
                    first = false;
                    pid_t pid = 0;
                    std::from_chars(line.data(), line.data() + line.size(), pid);
                    std::lock_guard guard(reportLock_);
                    serverPid_ = pid;
                    reported_.notify_all();
                } else {
                    std::lock_guard guard(*deviceLock_);
                    WhisperServer::readDeviceLine(line, *device_);
                }
                line.clear();
            }
        }
        ::close(fd);
        std::lock_guard guard(reportLock_);
        reportEnded_ = true;
        reported_.notify_all();
    }

    std::shared_ptr<std::mutex> deviceLock_;
    std::shared_ptr<Device> device_;
    pid_t pid_ = 0;
    int keepAlive_ = -1;
    bool exited_ = false;
    std::mutex reportLock_;
    std::condition_variable reported_;
    pid_t serverPid_ = 0;
    bool reportEnded_ = false;
    // Last: it stops and joins before the rest goes.
    std::jthread reader_;
};

// A preview in flight: giveWay sets the flag and wakes its transfer.
struct WhisperServer::Preview {
    std::atomic<bool> cancelled{false};
    CURLM* multi = nullptr;
};

// The server runs in the background with its output on the wrapper's (its pid first), while
// the shell waits for its input to close. When the input ends (the app quit or died) the server
// is killed outright: a graceful stop would first finish the request in flight.
const std::string WhisperServer::wrapperScript =
    R"("$@" </dev/null 2>&1 & child=$!; echo $child; exec >/dev/null; )"
    R"((while kill -0 $child 2>/dev/null; do sleep 2; done; kill $$ 2>/dev/null) & )"
    R"(cat >/dev/null; kill -KILL $child)";

WhisperServer::Setup WhisperServer::Setup::standard(const Paths& paths) {
    Setup setup;
    setup.program = paths.tool("whisper-server");
    setup.vocabulary = paths.vocabulary();
    setup.choosePort = &WhisperServer::randomPort;
    setup.workingFolder = paths.cache() / "engine";
    setup.gpuMemory = paths.cache() / "gpu-failed";
    return setup;
}

WhisperServer::WhisperServer(std::filesystem::path model, std::string language, Setup setup)
    : model_(std::move(model)), language_(std::move(language)), setup_(std::move(setup)) {
    if (!setup_.choosePort) {
        setup_.choosePort = &WhisperServer::randomPort;
    }
    usesCpu_ = gpuFailed();
}

WhisperServer::~WhisperServer() {
    shutDown();
}

int WhisperServer::randomPort() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return 49152 + std::uniform_int_distribution<int>(0, 15848)(engine);
}

int WhisperServer::automaticThreads() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, maxThreads);
    }
    // Hyper-threads share a core's arithmetic: one thread per (package, core) pair.
    std::set<std::pair<std::string, std::string>> cores;
    int processors = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) {
            continue;
        }
        ++processors;
        const std::string topology =
            "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        std::ifstream package(topology + "physical_package_id");
        std::ifstream core(topology + "core_id");
        std::string packageId, coreId;
        if (!(package >> packageId) || !(core >> coreId)) {
            packageId = "cpu";
            coreId = std::to_string(cpu);
        }
        cores.emplace(packageId, coreId);
    }
    const int physical = cores.empty() ? processors : static_cast<int>(cores.size());
    return std::clamp(physical, 1, maxThreads);
}

std::string
WhisperServer::multipartBody(std::string_view boundary, std::string_view wav,
                             std::string_view language, std::string_view prompt,
                             const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    body.reserve(wav.size() + 1024 + prompt.size());
    auto part = [&](std::string_view name, std::string_view content, bool isFile) {
        body += "--";
        body += boundary;
        body += "\r\nContent-Disposition: form-data; name=\"";
        body += name;
        body += '"';
        if (isFile) {
            body += "; filename=\"audio.wav\"";
        }
        body += "\r\n\r\n";
        body += content;
        body += "\r\n";
    };
    part("file", wav, true);
    part("response_format", "text", false);
    part("language", language, false);
    if (!prompt.empty()) {
        part("prompt", prompt, false);
    }
    for (const auto& [name, value] : fields) {
        part(name, value, false);
    }
    body += "--";
    body += boundary;
    body += "--\r\n";
    return body;
}

bool WhisperServer::readDeviceLine(std::string_view line, Device& device) {
    // "whisper_backend_init_gpu: using Vulkan0 backend" / "... no GPU found"
    if (line.find("whisper_backend_init_gpu:") != std::string_view::npos) {
        device.isGraphicsCard = line.find("using ") != std::string_view::npos &&
                                line.find(" backend") != std::string_view::npos;
        return true;
    }
    // "ggml_vulkan: 0 = NVIDIA GeForce RTX 3060 (NVIDIA) | uma: 0 | fp16: 1 | ..."
    if (const auto at = line.find("ggml_vulkan: 0 = "); at != std::string_view::npos) {
        std::string_view name = line.substr(at + 17);
        name = name.substr(0, name.find(" |"));
        device.graphicsCard = Text::validUTF8(std::string(name.substr(0, 200)));
        return true;
    }
    // "load_backend: loaded CPU backend from /…/libggml-cpu-haswell.so"
    if (const auto at = line.find("libggml-cpu-");
        at != std::string_view::npos && line.find("loaded CPU backend") != std::string_view::npos) {
        std::string_view variant = line.substr(at + 12);
        variant = variant.substr(0, variant.find(".so"));
        device.instructions = Text::validUTF8(std::string(variant.substr(0, 64)));
        return true;
    }
    return false;
}

int WhisperServer::port() const {
    std::lock_guard guard(lock_);
    return port_;
}

std::string WhisperServer::requestPath() const {
    std::lock_guard guard(lock_);
    return requestPath_;
}

pid_t WhisperServer::processId() const {
    std::lock_guard guard(lock_);
    return process_ ? process_->pid() : 0;
}

pid_t WhisperServer::serverId() const {
    std::lock_guard guard(lock_);
    return process_ ? process_->serverPid() : 0;
}

WhisperServer::Device WhisperServer::device() const {
    std::lock_guard guard(*deviceLock_);
    return *device_;
}

std::string WhisperServer::describe(const Device& device) {
    if (device.isGraphicsCard) {
        return "the graphics card" + (device.graphicsCard.empty()
                                          ? std::string()
                                          : ": " + Text::printable(device.graphicsCard));
    }
    std::string text = "the processor, " + std::to_string(device.threads) +
                       (device.threads == 1 ? " thread" : " threads");
    if (!device.instructions.empty()) {
        text += " (" + Text::printable(device.instructions) + " instructions)";
    }
    return text;
}

std::string WhisperServer::deviceDescription() const {
    // Not under the start-up lock: the window asks while a server may be starting.
    const Device device = this->device();
    return device.threads == 0 ? std::string() : describe(device);
}

std::filesystem::path WhisperServer::model() const {
    std::lock_guard guard(lock_);
    return nextModel_ ? *nextModel_ : model_;
}

void WhisperServer::useModel(std::filesystem::path model) {
    std::lock_guard guard(lock_);
    nextModel_ = std::move(model);
}

void WhisperServer::start() {
    std::lock_guard guard(lock_);
    ensureRunning();
}

void WhisperServer::shutDown() {
    closed_ = true;
    giveWay();
    std::lock_guard guard(lock_);
    endServer();
}

void WhisperServer::endServer() {
    process_.reset();
}

void WhisperServer::ensureRunning() {
    if (closed_) {
        throw AppError::process("whisper is shut down");
    }
    if (nextModel_ && inFlight_ == 0) {
        if (*nextModel_ != model_) {
            model_ = *nextModel_;
            endServer();
            // What this computer needs for the old model says nothing of the new one.
            std::lock_guard speed(speedLock_);
            speed_ = Recognition::EngineSpeed{};
        }
        nextModel_.reset();
    }
    if (process_ && process_->isRunning()) {
        return;
    }
    // A shell that ended by itself leaves nothing to close but its pipe.
    process_.reset();
    // A port taken between the check and the launch costs one launch; losing several in a row
    // means someone keeps taking them.
    for (int launch = 0; launch < 3; ++launch) {
        try {
            if (launchServer()) {
                return;
            }
        } catch (const AppError& error) {
            // A server that could not start on the graphics card gets one try on the processor.
            if (closed_ || !onGraphicsCard()) {
                throw;
            }
            rememberGpuFailure(error.what());
        }
    }
    throw AppError::process("whisper did not start");
}

int WhisperServer::freePort() {
    for (int tries = 0; tries < 20; ++tries) {
        const int port = setup_.choosePort();
        if (portIsFree(port)) {
            return port;
        }
        log("whisper port " + std::to_string(port) + " is in use, choosing another");
    }
    throw AppError::process("whisper did not start");
}

std::vector<std::string> WhisperServer::launchArguments() const {
    const int threads = setup_.threads > 0 ? setup_.threads : automaticThreads();
    // The request path is not among them: every local user can read a command line.
    std::vector<std::string> arguments{"sh",
                                       "-c",
                                       wrapperScript,
                                       "sh",
                                       setup_.program,
                                       "-m",
                                       model_.string(),
                                       "--host",
                                       "127.0.0.1",
                                       "--port",
                                       std::to_string(port_),
                                       "-l",
                                       language_,
                                       "-nt",
                                       "-t",
                                       std::to_string(threads)};
    if (usesCpu_) {
        arguments.emplace_back("-ng");
    }
    return arguments;
}

void WhisperServer::checkProgram(const std::filesystem::path& folder) {
    if (programChecked_) {
        return;
    }
    // Our build names the variable that carries the request path in its usage; a stock build
    // would put the path on its command line, or ignore it and serve everyone.
    std::string usage;
    try {
        usage =
            run({"sh", "-c", R"(exec "$0" --help 2>&1)", setup_.program}, std::nullopt, folder, 10);
    } catch (const AppError& error) {
        usage = error.what();
    }
    if (usage.find(requestPathVariable) == std::string::npos) {
        log("refusing " + Text::printable(setup_.program) +
            ": it cannot keep its request path from other users (a stock whisper-server)");
        throw AppError::process("whisper did not start");
    }
    programChecked_ = true;
}

bool WhisperServer::launchServer() {
    port_ = freePort();
    requestPath_ = randomRequestPath();
    {
        std::lock_guard guard(*deviceLock_);
        *device_ = Device{};
        device_->threads = setup_.threads > 0 ? setup_.threads : automaticThreads();
    }
    std::filesystem::path folder = setup_.workingFolder;
    if (folder.empty()) {
        folder = std::filesystem::temp_directory_path() /
                 ("parlwick-engine-" + std::to_string(::getuid()));
    }
    try {
        Files::createPrivateFolder(folder);
    } catch (const std::exception&) {
        // Judged below.
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
        log("whisper working folder " + folder.string() + " is not private to this user");
        throw AppError::process("whisper did not start");
    }

    checkProgram(folder);

    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view text(*variable);
        if (!text.starts_with("GGML_NO_BACKTRACE=") && !text.starts_with("GGML_DISABLE_VULKAN=") &&
            !text.starts_with(std::string(requestPathVariable) + "=")) {
            environment.emplace_back(text);
        }
    }
    // Only this user (and root) can read a process's environment.
    environment.push_back(std::string(requestPathVariable) + "=" + requestPath_);
    // On an abort ggml would otherwise try to attach a debugger to the server.
    environment.emplace_back("GGML_NO_BACKTRACE=1");
    if (usesCpu_) {
        // The failed driver stays out of the server's process altogether.
        environment.emplace_back("GGML_DISABLE_VULKAN=1");
    }
    process_ =
        std::make_unique<Child>(launchArguments(), environment, folder, deviceLock_, device_);

    const auto deadline = Clock::now() + setup_.probeLimit;
    Http probe;
    bool ours = false;
    while (Clock::now() < deadline) {
        // Nothing, not even the probe with its path, goes to a listener that is not the server.
        if (!ours) {
            const auto listeners = listenersOn(port_);
            if (!listeners) {
                log("cannot read /proc/net/tcp to check the whisper port");
                break;
            }
            if (!listeners->empty()) {
                if (!holdsEvery(process_->serverPid(), *listeners)) {
                    log("whisper port " + std::to_string(port_) +
                        " is held by another process, starting another");
                    process_.reset();
                    return false;
                }
                ours = true;
            }
        }
        if (ours) {
            try {
                if (probe.get(serverURL(port_, requestPath_ + "/"), std::chrono::seconds(1))
                        .status == 200) {
                    const Device device = this->device();
                    log("speech engine: " + model_.filename().string() + " on " + describe(device));
                    return true;
                }
            } catch (const AppError&) {
                // Listening, not answering yet.
            }
        }
        if (!process_->isRunning() || closed_) {
            break;
        }
        std::this_thread::sleep_for(setup_.probeInterval);
    }
    // The next call starts afresh.
    process_.reset();
    throw AppError::process("whisper did not start");
}

// The program and the engine, as they are on disk: a failure on the graphics card is
// remembered until either changes.
namespace {
std::string identityOf(const std::string& program) {
    std::string identity;
    for (const std::string& file : {std::string("/proc/self/exe"), program}) {
        std::error_code error;
        const auto resolved = std::filesystem::canonical(file, error);
        struct stat info {};
        if (error || ::stat(resolved.c_str(), &info) != 0) {
            identity += file + " ?\n";
            continue;
        }
        identity += resolved.string() + " " + std::to_string(info.st_size) + " " +
                    std::to_string(info.st_mtim.tv_sec) + "." +
                    std::to_string(info.st_mtim.tv_nsec) + "\n";
    }
    return identity;
}
} // namespace

bool WhisperServer::onGraphicsCard() const {
    // ggml names the card as it loads, before the model is placed on it; a failure from then
    // on is the card's.
    const Device device = this->device();
    return !usesCpu_ && (device.isGraphicsCard || !device.graphicsCard.empty());
}

bool WhisperServer::gpuFailed() const {
    if (setup_.gpuMemory.empty()) {
        return false;
    }
    try {
        return Files::readIfPresent(setup_.gpuMemory) == identityOf(setup_.program);
    } catch (const std::exception&) {
        return false;
    }
}

void WhisperServer::rememberGpuFailure(const std::string& reason) {
    if (usesCpu_) {
        return;
    }
    usesCpu_ = true;
    log("speech engine: gpu failed, using the cpu: " + reason);
    if (setup_.gpuMemory.empty()) {
        return;
    }
    try {
        Files::replaceAtomically(setup_.gpuMemory, identityOf(setup_.program));
    } catch (const std::exception& error) {
        log(std::string("could not remember the gpu failure: ") + error.what());
    }
}

int WhisperServer::framesFor(double seconds) const {
    return setup_.fitsContext ? Recognition::contextFor(seconds) : 0;
}

std::chrono::milliseconds WhisperServer::requestLimit(double seconds) const {
    if (setup_.requestLimit.count() > 0) {
        return setup_.requestLimit;
    }
    std::lock_guard guard(speedLock_);
    return speed_.limit(framesFor(seconds));
}

bool WhisperServer::keepsUp(double seconds, double limit) const {
    std::lock_guard guard(speedLock_);
    const auto expected = speed_.estimate(framesFor(seconds));
    return expected && std::chrono::duration<double>(*expected).count() <= limit;
}

void WhisperServer::giveWay() {
    std::lock_guard guard(previewsLock_);
    for (Preview* preview : previews_) {
        preview->cancelled = true;
        curl_multi_wakeup(preview->multi);
    }
}

std::string WhisperServer::request(const std::string& wav, const std::string& prompt, int frames,
                                   Kind kind) {
    if (kind == Kind::final) {
        // The final text never waits behind a preview of the same words.
        giveWay();
    }
    int port = 0;
    std::string path;
    {
        std::lock_guard guard(lock_);
        ensureRunning();
        port = port_;
        path = requestPath_;
        ++inFlight_;
    }
    struct Ended {
        WhisperServer& server;
        ~Ended() {
            std::lock_guard guard(server.lock_);
            --server.inFlight_;
        }
    } ended{*this};
    std::vector<std::pair<std::string, std::string>> fields;
    if (frames > 0) {
        fields.emplace_back("audio_ctx", std::to_string(frames));
    }
    if (setup_.guardsDecoding) {
        fields.emplace_back("entropy_thold", std::string(Recognition::entropyThreshold));
        fields.emplace_back("logprob_thold", std::string(Recognition::logProbabilityThreshold));
        fields.emplace_back("no_speech_thold", std::string(Recognition::noSpeechThreshold));
    }
    const std::string boundary = Uuid::generate();
    const std::string body = multipartBody(boundary, wav, language_, prompt, fields);
    const auto limit = setup_.requestLimit.count() > 0 ? setup_.requestLimit : [&] {
        std::lock_guard guard(speedLock_);
        return speed_.limit(frames);
    }();

    Http http;
    Preview preview;
    if (kind == Kind::preview) {
        preview.multi = http.multi();
        std::lock_guard guard(previewsLock_);
        previews_.push_back(&preview);
    }
    const auto forget = [&] {
        if (kind == Kind::preview) {
            std::lock_guard guard(previewsLock_);
            std::erase(previews_, &preview);
        }
    };
    const auto start = Clock::now();
    Reply reply;
    try {
        reply = http.post(serverURL(port, path + "/inference"), body,
                          "multipart/form-data; boundary=" + boundary, limit,
                          kind == Kind::preview ? &preview.cancelled : nullptr);
    } catch (...) {
        forget();
        throw;
    }
    forget();
    if (reply.status != 200) {
        throw AppError::process("no reply from whisper");
    }
    {
        std::lock_guard guard(speedLock_);
        speed_.record(frames,
                      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
    }
    return Cleanup::normalizeTranscript(Text::validUTF8(reply.body));
}

std::string WhisperServer::checkedRequest(const std::string& wav, const std::string& prompt,
                                          Kind kind) {
    const double seconds = WavEncoder::secondsOf(wav);
    const int frames = framesFor(seconds);
    std::string text = request(wav, prompt, frames, kind);
    if (frames > 0 && Recognition::repeatsItself(text, seconds)) {
        log("transcript repeats itself, asking again with the full context");
        text = request(wav, prompt, 0, kind);
    }
    return text;
}

std::string WhisperServer::attempt(const std::string& wav, const std::string& prompt) {
    return checkedRequest(wav, prompt, Kind::ordinary);
}

std::string WhisperServer::preview(const std::string& wav, const std::string& prompt) {
    const double seconds = WavEncoder::secondsOf(wav);
    std::string text = request(wav, prompt, framesFor(seconds), Kind::preview);
    // A looping preview is not worth a second, full-length request.
    return Recognition::repeatsItself(text, seconds) ? std::string() : text;
}

std::string WhisperServer::transcribe(std::span<const float> samples) {
    const std::string wav = WavEncoder::encode(samples);
    try {
        return checkedRequest(wav, prompt(), Kind::final);
    } catch (const std::exception& error) {
        log(std::string("transcription failed, restarting whisper: ") + error.what());
        std::lock_guard guard(lock_);
        // A server that hung or died on the graphics card gets the processor from now on.
        if (onGraphicsCard() && !closed_) {
            rememberGpuFailure(error.what());
        }
        endServer();
    }
    return checkedRequest(wav, prompt(), Kind::final);
}

void WhisperServer::warmUp() {
    try {
        SpeechEngine::warmUp();
    } catch (const AppError& error) {
        // A dictation came first; it starts and measures the engine itself.
        if (std::string_view(error.what()).find(gaveWay) == std::string_view::npos) {
            throw;
        }
    }
}

std::string WhisperServer::prompt() const {
    return setup_.vocabulary.empty() ? std::string() : vocabularyPrompt(setup_.vocabulary);
}
