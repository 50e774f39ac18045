#include "speech/WhisperServer.h"

#include "Cleanup.h"
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
#include <csignal>
#include <curl/curl.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// libcurl: blocking easy handles on the calling thread.
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
               std::chrono::milliseconds limit) {
        prepare(url, limit);
        headers_ = curl_slist_append(headers_, ("Content-Type: " + contentType).c_str());
        // No "Expect: 100-continue" round trip before larger bodies.
        headers_ = curl_slist_append(headers_, "Expect:");
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(body.size()));
        return perform();
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
            throw AppError::process("whisper request failed: " +
                                    std::string(error_[0] ? error_ : curl_easy_strerror(code)));
        }
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &reply_.status);
        return std::move(reply_);
    }

    CURL* handle_ = nullptr;
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
        const ssize_t got = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += got > 0 ? static_cast<std::size_t>(got) : 0;
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

// The wrapper shell and the writing end of its standard input. Dropping it closes the pipe,
// which ends the server, and reaps the shell.
class WhisperServer::Child {
  public:
    explicit Child(const std::vector<std::string>& arguments) {
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
        const int error = spawnProgram(pid_, arguments, &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[0]);
        ::close(report[1]);
        if (error != 0) {
            ::close(ends[1]);
            ::close(report[0]);
            throw std::system_error(error, std::generic_category(), "could not launch whisper");
        }
        keepAlive_ = ends[1];
        report_ = report[0];
    }

    ~Child() {
        closeReport();
        closeKeepAlive();
        // Without its input the shell ends the server and exits at once; don't wait forever.
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (isRunning()) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
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

    // The server's own process id, which the wrapper writes first thing; 0 when it wrote none.
    pid_t serverPid() {
        std::string text;
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (report_ >= 0 && text.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd ready{report_, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) {
                continue;
            }
            char buffer[32];
            const ssize_t got = ::read(report_, buffer, sizeof buffer);
            if (got == 0 || (got < 0 && errno != EINTR)) {
                break;
            }
            text.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        if (report_ >= 0) {
            std::from_chars(text.data(), text.data() + text.size(), serverPid_);
            closeReport();
        }
        return serverPid_;
    }

  private:
    void closeReport() {
        if (report_ >= 0) {
            ::close(report_);
            report_ = -1;
        }
    }

    pid_t pid_ = 0;
    pid_t serverPid_ = 0;
    int keepAlive_ = -1;
    int report_ = -1;
    bool exited_ = false;
};

// The server runs in the background (its pid reported on the wrapper's output, which is then
// let go) while the shell waits for its input to close.
const std::string WhisperServer::wrapperScript =
    R"("$@" </dev/null >/dev/null 2>&1 & child=$!; echo $child; exec >/dev/null; )"
    R"((while kill -0 $child 2>/dev/null; do sleep 2; done; kill $$ 2>/dev/null) & )"
    R"(cat >/dev/null; kill $child)";

WhisperServer::Setup WhisperServer::Setup::standard(const Paths& paths) {
    Setup setup;
    setup.program = paths.tool("whisper-server");
    setup.vocabulary = paths.vocabulary();
    setup.choosePort = &WhisperServer::randomPort;
    return setup;
}

WhisperServer::WhisperServer(std::filesystem::path model, std::string language, Setup setup)
    : model_(std::move(model)), language_(std::move(language)), setup_(std::move(setup)) {
    if (!setup_.choosePort) {
        setup_.choosePort = &WhisperServer::randomPort;
    }
}

WhisperServer::~WhisperServer() {
    shutDown();
}

int WhisperServer::randomPort() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return 49152 + std::uniform_int_distribution<int>(0, 15848)(engine);
}

std::string WhisperServer::multipartBody(std::string_view boundary, std::string_view wav,
                                         std::string_view language, std::string_view prompt) {
    std::string body;
    body.reserve(wav.size() + 512 + prompt.size());
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
    body += "--";
    body += boundary;
    body += "--\r\n";
    return body;
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

void WhisperServer::shutDown() {
    closed_ = true;
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
    if (process_ && process_->isRunning()) {
        return;
    }
    // A shell that ended by itself leaves nothing to close but its pipe.
    process_.reset();
    // A port taken between the check and the launch costs one launch; losing several in a row
    // means someone keeps taking them.
    for (int launch = 0; launch < 3; ++launch) {
        if (launchServer()) {
            return;
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

bool WhisperServer::launchServer() {
    port_ = freePort();
    requestPath_ = randomRequestPath();
    process_ = std::make_unique<Child>(std::vector<std::string>{
        "sh", "-c", wrapperScript, "sh", setup_.program, "-m", model_.string(), "--host",
        "127.0.0.1", "--port", std::to_string(port_), "--request-path", requestPath_, "-l",
        language_, "-nt"});

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

std::string WhisperServer::attempt(const std::string& wav, const std::string& prompt) {
    int port = 0;
    std::string path;
    {
        std::lock_guard guard(lock_);
        ensureRunning();
        port = port_;
        path = requestPath_;
    }
    const std::string boundary = Uuid::generate();
    const std::string body = multipartBody(boundary, wav, language_, prompt);
    Http http;
    const Reply reply = http.post(serverURL(port, path + "/inference"), body,
                                  "multipart/form-data; boundary=" + boundary, setup_.requestLimit);
    if (reply.status != 200) {
        throw AppError::process("no reply from whisper");
    }
    return Cleanup::normalizeTranscript(Text::validUTF8(reply.body));
}

std::string WhisperServer::transcribe(std::span<const float> samples) {
    try {
        return attempt(WavEncoder::encode(samples), prompt());
    } catch (const std::exception& error) {
        log(std::string("transcription failed, restarting whisper: ") + error.what());
    }
    {
        std::lock_guard guard(lock_);
        endServer();
    }
    return attempt(WavEncoder::encode(samples), prompt());
}

std::string WhisperServer::prompt() const {
    return setup_.vocabulary.empty() ? std::string() : vocabularyPrompt(setup_.vocabulary);
}
