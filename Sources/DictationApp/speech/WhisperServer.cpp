#include "speech/WhisperServer.h"

#include "platform/AppError.h"
#include "Cleanup.h"
#include "platform/Log.h"
#include "platform/Subprocess.h"
#include "Text.h"
#include "Uuid.h"
#include "Vocabulary.h"
#include "WavEncoder.h"

#include <cerrno>
#include <csignal>
#include <curl/curl.h>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <spawn.h>
#include <sstream>
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
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
        const int error = spawnProgram(pid_, arguments, &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[0]);
        if (error != 0) {
            ::close(ends[1]);
            throw std::system_error(error, std::generic_category(), "could not launch whisper");
        }
        keepAlive_ = ends[1];
    }

    ~Child() {
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

  private:
    pid_t pid_ = 0;
    int keepAlive_ = -1;
    bool exited_ = false;
};

const std::string WhisperServer::wrapperScript =
    R"("$@" </dev/null >/dev/null 2>&1 & child=$!; )"
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

    port_ = setup_.choosePort();
    process_ = std::make_unique<Child>(std::vector<std::string>{
        "sh", "-c", wrapperScript, "sh", setup_.program, "-m", model_.string(), "--host",
        "127.0.0.1", "--port", std::to_string(port_), "-l", language_, "-nt"});

    const auto deadline = Clock::now() + setup_.probeLimit;
    Http probe;
    while (Clock::now() < deadline) {
        try {
            if (probe.get(serverURL(port_, "/"), std::chrono::seconds(1)).status == 200) {
                return;
            }
        } catch (const AppError&) {
            // Not listening yet.
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
    {
        std::lock_guard guard(lock_);
        ensureRunning();
        port = port_;
    }
    const std::string boundary = Uuid::generate();
    const std::string body = multipartBody(boundary, wav, language_, prompt);
    Http http;
    const Reply reply = http.post(serverURL(port, "/inference"), body,
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
