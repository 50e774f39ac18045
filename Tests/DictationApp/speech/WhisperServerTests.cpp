// The speech engine against the real whisper-server (with a generated model that answers a
// fixed sentence) and against a scripted stand-in for exact bytes and failures.
#include "AudioTools.h"
#include "BackgroundProcess.h"
#include "TestModels.h"
#include "TestSupport.h"
#include "Uuid.h"
#include "WavEncoder.h"
#include "platform/AppError.h"
#include "speech/WhisperServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sched.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* sentence = "Hello from the test server.";
constexpr const char* restartLine = "[Dictation] transcription failed, restarting whisper: ";

int countOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

std::string failureOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const AppError& error) {
        return error.description();
    }
    return "no error";
}

bool portAnswers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// The whisper-server under the wrapper shell, or 0.
pid_t serverUnder(pid_t wrapper) {
    for (pid_t child : childrenOf(wrapper)) {
        if (commandOf(child).find("whisper-server") != std::string::npos) {
            return child;
        }
    }
    return 0;
}

// The request path a server was given in its environment, or "".
std::string requestPathOf(pid_t pid) {
    std::istringstream in(readAll("/proc/" + std::to_string(pid) + "/environ"));
    const std::string name = std::string(WhisperServer::requestPathVariable) + "=";
    for (std::string variable; std::getline(in, variable, '\0');) {
        if (variable.starts_with(name)) {
            return variable.substr(name.size());
        }
    }
    return "";
}

// Whether a process's command line holds `argument`.
bool hasArgument(pid_t pid, const std::string& argument) {
    std::istringstream in(readAll("/proc/" + std::to_string(pid) + "/cmdline"));
    for (std::string each; std::getline(in, each, '\0');) {
        if (each == argument) {
            return true;
        }
    }
    return false;
}

// "/" and 32 hexadecimal digits: 16 random bytes.
bool isLaunchPrefix(const std::string& path) {
    return path.size() == 33 && path[0] == '/' &&
           path.find_first_not_of("0123456789abcdef", 1) == std::string::npos;
}

// The status of one HTTP/1.1 request to the loopback port, 0 when no status line came back.
int httpStatus(int port, const std::string& method, const std::string& path,
               const std::string& contentType = "", const std::string& body = "") {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request =
            method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
        if (!contentType.empty()) {
            request += "Content-Type: " + contentType + "\r\n";
        }
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[512];
            for (ssize_t got; reply.find("\r\n") == std::string::npos &&
                              (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                reply.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    ::close(fd);
    int status = 0;
    return std::sscanf(reply.c_str(), "HTTP/1.%*d %d", &status) == 1 ? status : 0;
}

// Every file under `folder` holding `piece`.
std::vector<std::string> filesHolding(const std::filesystem::path& folder,
                                      const std::string& piece) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && readAll(entry.path()).find(piece) != std::string::npos) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

// Another program listening on a loopback port and answering every request with 200 and its
// own text: as nobody when the test runs as root, else as this user.
class Squatter {
  public:
    explicit Squatter(const std::filesystem::path& output)
        : output_(output), process_({STAND_IN_SERVER, "--squat", "0"}, {}, output.string()) {
        eventually(
            [&] { return std::sscanf(readAll(output_).c_str(), "listening %d", &port_) == 1; }, 10);
    }
    int port() const { return port_; }
    std::string requests() const {
        const std::string text = readAll(output_);
        const auto at = text.find('\n');
        return at == std::string::npos ? "" : text.substr(at + 1);
    }

  private:
    std::filesystem::path output_;
    BackgroundProcess process_;
    int port_ = 0;
};

class SpeechEngine : public testing::Test {
  protected:
    void SetUp() override {
        // On an abort, ggml would otherwise try to attach a debugger.
        ::setenv("GGML_NO_BACKTRACE", "1", 1);
    }
    // The program found on PATH, the vocabulary in a private support folder.
    WhisperServer::Setup standardSetup() const {
        return WhisperServer::Setup::standard(Paths("/opt/parlwick/bin/parlwick", std::nullopt,
                                                    Paths::Homes::under(dir.path()), dir.path()));
    }
    TempDir dir;
};

class RealServer : public SpeechEngine {
  protected:
    void SetUp() override {
        SpeechEngine::SetUp();
        program = findProgram("whisper-server");
        if (program.empty()) {
            GTEST_SKIP() << "whisper-server is not installed (run ./scripts/setup.sh)";
        }
        model = dir / "ggml-test.bin";
        TestModels::writeWhisper(model, sentence);
    }
    WhisperServer::Setup setup() const {
        auto setup = standardSetup();
        setup.program = program;
        return setup;
    }
    std::string program;
    std::filesystem::path model;
};

TEST_F(RealServer, StartsOnARandomPortAndTranscribesRealAudio) {
    WhisperServer server(model, "en", setup());
    EXPECT_EQ(server.port(), 0) << "nothing runs before the first request";
    EXPECT_EQ(server.transcribe(tone(2.0)), sentence);
    EXPECT_GE(server.port(), 49152);
    EXPECT_LE(server.port(), 65000);
    EXPECT_NE(serverUnder(server.processId()), 0) << "the wrapper shell runs the server";

    // Later requests reuse the running server; a prompt does not change the crafted answer.
    const pid_t wrapper = server.processId();
    EXPECT_EQ(server.attempt(WavEncoder::encode(tone(0.5)), "Kubernetes, Grafana."), sentence);
    EXPECT_EQ(server.processId(), wrapper);
}

TEST_F(RealServer, AKilledServerIsRestartedOnANewPortAndRetriedOnce) {
    WhisperServer server(model, "en", setup());
    ASSERT_EQ(server.transcribe(tone(1.0)), sentence);
    const int firstPort = server.port();
    const pid_t engine = serverUnder(server.processId());
    ASSERT_NE(engine, 0);
    ::kill(engine, SIGKILL);
    ASSERT_TRUE(eventually([&] { return !portAnswers(firstPort); }, 3));

    testing::internal::CaptureStderr();
    const std::string text = server.transcribe(tone(1.0));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(text, sentence);
    EXPECT_NE(server.port(), firstPort);
    EXPECT_EQ(countOf(errors, restartLine), 1) << errors;
}

TEST_F(RealServer, ClosingTheKeepAlivePipeEndsTheServer) {
    WhisperServer server(model, "en", setup());
    ASSERT_EQ(server.transcribe(tone(0.5)), sentence);
    const pid_t engine = serverUnder(server.processId());
    const int port = server.port();
    ASSERT_NE(engine, 0);
    server.shutDown();
    EXPECT_EQ(server.processId(), 0);
    EXPECT_TRUE(eventually([&] { return !processIsAlive(engine); }, 3));
    EXPECT_FALSE(portAnswers(port));
}

TEST_F(RealServer, KillingTheOwningProcessEndsTheServer) {
    const auto report = dir / "owner.txt";
    BackgroundProcess owner({WHISPER_OWNER, model.string()},
                            {{"PATH", std::filesystem::path(program).parent_path().string() + ":" +
                                          std::getenv("PATH")}},
                            report.string());
    int port = 0;
    pid_t wrapper = 0;
    // The owner's log lines share the report; its answer is the line of two numbers.
    ASSERT_TRUE(eventually(
        [&] {
            std::istringstream in(readAll(report));
            for (std::string line; std::getline(in, line);) {
                if (std::sscanf(line.c_str(), "%d %d", &port, &wrapper) == 2) {
                    return true;
                }
            }
            return false;
        },
        20))
        << readAll(report);
    const pid_t engine = serverUnder(wrapper);
    ASSERT_NE(engine, 0);
    ASSERT_TRUE(portAnswers(port));

    owner.end(SIGKILL);
    // Its threads close the socket as they go, a moment after the process is reaped.
    EXPECT_TRUE(eventually([&] { return !processIsAlive(engine) && !portAnswers(port); }, 3))
        << "the server outlived the process that started it";
}

TEST_F(RealServer, AMissingOrForeignModelGivesUpWithoutWaitingForTheLimit) {
    writeAll(dir / "not-a-model.bin", std::string(4096, 'x'));
    for (const auto& file : {dir / "missing.bin", dir / "not-a-model.bin"}) {
        WhisperServer server(file, "en", setup());
        const auto start = Clock::now();
        EXPECT_EQ(failureOf([&] { server.attempt(WavEncoder::encode(tone(0.5)), ""); }),
                  "process: whisper did not start")
            << file;
        EXPECT_LT(Clock::now() - start, 8s) << file;
        EXPECT_EQ(server.processId(), 0) << "the next call starts afresh";
    }
}

TEST_F(RealServer, APortHeldByAnyoneIsRefusedBeforeTheLaunch) {
    if (::access("/usr/bin/python3", X_OK) != 0) {
        GTEST_SKIP() << "/usr/bin/python3 is not installed; the squatter needs it";
    }
    // A bare listener of this user that never answers, and a squatter that answers every
    // request as a server would.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const Squatter squatter(dir / "squatter.txt");
    ASSERT_NE(squatter.port(), 0) << readAll(dir / "squatter.txt");

    for (const int taken : {static_cast<int>(ntohs(address.sin_port)), squatter.port()}) {
        auto withTakenPort = setup();
        int calls = 0;
        withTakenPort.choosePort = [&] {
            return calls++ == 0 ? taken : WhisperServer::randomPort();
        };
        WhisperServer server(model, "en", withTakenPort);
        testing::internal::CaptureStderr();
        const std::string text = server.transcribe(tone(0.5));
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(text, sentence) << taken;
        EXPECT_NE(server.port(), taken);
        EXPECT_EQ(countOf(errors, "[Dictation] whisper port " + std::to_string(taken) +
                                      " is in use, choosing another\n"),
                  1)
            << errors;
        EXPECT_EQ(countOf(errors, restartLine), 0) << errors;
    }
    ::close(holder);
    EXPECT_EQ(squatter.requests(), "") << "the squatter was asked";
}

TEST_F(RealServer, OnlyRequestsUnderTheLaunchPrefixReachTheServer) {
    WhisperServer server(model, "en", setup());
    testing::internal::CaptureStderr();
    ASSERT_EQ(server.transcribe(tone(0.5)), sentence);
    const pid_t engine = serverUnder(server.processId());
    const std::string prefix = requestPathOf(engine);
    EXPECT_TRUE(isLaunchPrefix(prefix)) << prefix;
    EXPECT_EQ(readAll("/proc/" + std::to_string(engine) + "/cmdline").find(prefix.substr(1)),
              std::string::npos);

    // Without the prefix no handler answers: no transcription, no model swap, no page.
    const int port = server.port();
    const std::string boundary = Uuid::generate();
    const std::string form = "multipart/form-data; boundary=" + boundary;
    const std::string inference =
        WhisperServer::multipartBody(boundary, WavEncoder::encode(tone(0.5)), "en", "");
    const std::string load = "--" + boundary +
                             "\r\nContent-Disposition: form-data; name=\"model\"\r\n\r\n" +
                             model.string() + "\r\n--" + boundary + "--\r\n";
    EXPECT_EQ(httpStatus(port, "POST", "/inference", form, inference), 404);
    EXPECT_EQ(httpStatus(port, "POST", "/load", form, load), 404);
    EXPECT_EQ(httpStatus(port, "GET", "/"), 404);
    EXPECT_EQ(httpStatus(port, "GET", prefix + "/"), 200) << "the server itself is up";
    EXPECT_EQ(server.attempt(WavEncoder::encode(tone(0.5)), ""), sentence);
    EXPECT_EQ(serverUnder(server.processId()), engine);

    // Each launch makes its own.
    ::kill(engine, SIGKILL);
    ASSERT_TRUE(eventually([&] { return !portAnswers(port); }, 3));
    ASSERT_EQ(server.transcribe(tone(0.5)), sentence);
    const std::string next = requestPathOf(serverUnder(server.processId()));
    EXPECT_TRUE(isLaunchPrefix(next)) << next;
    EXPECT_NE(next, prefix);

    // Neither is logged nor written anywhere of ours.
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOf(errors, restartLine), 1) << errors;
    for (const auto& path : {prefix, next}) {
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(errors.find(path.substr(1)), std::string::npos) << errors;
        EXPECT_EQ(filesHolding(dir.path(), path.substr(1)), std::vector<std::string>{});
    }
}

TEST_F(RealServer, LoadsTheBestProcessorBackendThisMachineRunsWithOneThreadPerCore) {
    const auto tools = std::filesystem::canonical(program).parent_path();
    if (!std::filesystem::exists(tools / "libggml-cpu-x64.so")) {
        GTEST_SKIP() << "whisper-server was built without a processor backend per x86-64 level";
    }
    WhisperServer server(model, "en", setup());
    ASSERT_EQ(server.transcribe(tone(0.5)), sentence);
    const auto device = server.device();
    ASSERT_FALSE(device.instructions.empty()) << "the server named no processor backend";
    EXPECT_TRUE(std::filesystem::exists(tools / ("libggml-cpu-" + device.instructions + ".so")));
    EXPECT_EQ(device.threads, WhisperServer::automaticThreads());
    EXPECT_TRUE(hasArgument(server.serverId(), std::to_string(device.threads)));
    // A processor with AVX2 never runs the older levels; the AMX kernels only when asked.
    const std::string cpu = readAll("/proc/cpuinfo");
    if (cpu.find(" avx2") != std::string::npos) {
        for (const char* older : {"x64", "sse42", "sandybridge", "ivybridge", "piledriver"}) {
            EXPECT_NE(device.instructions, older);
        }
    }
    if (std::getenv("GGML_CPU_USE_AMX") == nullptr) {
        EXPECT_NE(device.instructions, "sapphirerapids");
    }
}

// Another local user, even one who learnt the request path, cannot load a model, read a file
// or change what the next dictation types.
TEST_F(RealServer, AnotherUserCannotSwapTheModelOrReadFilesThroughTheServer) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0 ||
        ::access("/usr/bin/python3", X_OK) != 0) {
        GTEST_SKIP() << "needs root, setpriv and python3 to act as another user (nobody)";
    }
    WhisperServer server(model, "en", setup());
    ASSERT_EQ(server.transcribe(tone(0.5)), sentence);
    const pid_t engine = server.serverId();
    const std::string path = requestPathOf(engine);
    ASSERT_TRUE(isLaunchPrefix(path));
    // A file in the server's working folder where the stock server's static mount would look,
    // and another model the attacker wants loaded.
    const auto folder = std::filesystem::read_symlink("/proc/" + std::to_string(engine) + "/cwd");
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    std::filesystem::create_directories(folder / "examples/server/public");
    writeAll(folder / "examples/server/public/secret.txt", "the user's secret");
    const auto other = dir / "other.bin";
    TestModels::writeWhisper(other, "Typed by somebody else.");
    std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    std::filesystem::permissions(other, std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);

    const auto script = dir / "attack.py";
    writeAll(script, R"(import glob, sys, urllib.request, urllib.error
port, engine, path, other = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
cmdline = open("/proc/%s/cmdline" % engine, "rb").read().decode()
print("path on the command line" if path[1:] in cmdline else "no path on the command line")
try:
    open("/proc/%s/environ" % engine, "rb").read()
    print("environment read")
except OSError:
    print("environment closed")
def status(method, url, body=None, kind=None):
    request = urllib.request.Request("http://127.0.0.1:%s%s" % (port, url), data=body, method=method)
    if kind:
        request.add_header("Content-Type", kind)
    try:
        return urllib.request.urlopen(request, timeout=20).status
    except urllib.error.HTTPError as error:
        return error.code
form = ("--b\r\nContent-Disposition: form-data; name=\"model\"\r\n\r\n%s\r\n--b--\r\n" % other).encode()
for prefix in ("", path):
    print("load", status("POST", prefix + "/load", form, "multipart/form-data; boundary=b"))
    print("file", status("GET", prefix + "/secret.txt"))
)");
    const auto report = dir / "attack.txt";
    {
        BackgroundProcess attacker({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                    "--clear-groups", "/usr/bin/python3", script.string(),
                                    std::to_string(server.port()), std::to_string(engine), path,
                                    other.string()},
                                   {}, report.string());
        ASSERT_TRUE(eventually([&] { return countOf(readAll(report), "file ") == 2; }, 60))
            << readAll(report);
    }
    EXPECT_EQ(readAll(report), "no path on the command line\nenvironment closed\nload 404\n"
                               "file 404\nload 404\nfile 404\n");
    // The user's next dictation is still recognised by the user's model.
    EXPECT_EQ(server.transcribe(tone(0.5)), sentence);
    EXPECT_EQ(server.serverId(), engine) << "the server survived";
}

// The real server on Mesa's software Vulkan device, which ggml only uses when told to: the
// graphics-card path without a graphics card.
class SoftwareGraphicsCard : public RealServer {
  protected:
    void SetUp() override {
        RealServer::SetUp();
        if (IsSkipped()) {
            return;
        }
        const auto tools = std::filesystem::canonical(program).parent_path();
        if (!std::filesystem::exists(tools / "libggml-vulkan.so")) {
            GTEST_SKIP() << "whisper-server was built without the Vulkan backend";
        }
        if (!std::filesystem::exists("/usr/share/vulkan/icd.d/lvp_icd.x86_64.json")) {
            GTEST_SKIP() << "Mesa's software Vulkan device is not installed (mesa-vulkan-drivers)";
        }
        ::setenv("GGML_VK_VISIBLE_DEVICES", "0", 1);
    }
    void TearDown() override {
        ::unsetenv("GGML_VK_VISIBLE_DEVICES");
        ::unsetenv("GGML_VK_FORCE_MAX_BUFFER_SIZE");
    }
    WhisperServer::Setup remembering() const {
        auto chosen = setup();
        chosen.gpuMemory = dir / "cache" / "gpu-failed";
        return chosen;
    }
};

TEST_F(SoftwareGraphicsCard, RecognisesOnTheGraphicsCardAndSaysSo) {
    WhisperServer server(model, "en", remembering());
    testing::internal::CaptureStderr();
    // The first run compiles the card's shaders, which takes a minute on a slow machine.
    EXPECT_EQ(server.transcribe(tone(2)), sentence);
    const std::string errors = testing::internal::GetCapturedStderr();
    const auto device = server.device();
    EXPECT_TRUE(device.isGraphicsCard);
    EXPECT_NE(device.graphicsCard.find("llvmpipe"), std::string::npos) << device.graphicsCard;
    EXPECT_EQ(server.deviceDescription().rfind("the graphics card: llvmpipe", 0), 0u)
        << server.deviceDescription();
    EXPECT_EQ(countOf(errors, " on the graphics card: llvmpipe"), 1) << errors;
    EXPECT_FALSE(hasArgument(server.serverId(), "-ng")) << "the card is allowed";
    EXPECT_FALSE(std::filesystem::exists(dir / "cache" / "gpu-failed"));
}

TEST_F(SoftwareGraphicsCard, ACardThatFailsHandsOverToTheProcessorOnceAndForThisEngine) {
    // The card cannot hold even the model: the server dies while it loads.
    ::setenv("GGML_VK_FORCE_MAX_BUFFER_SIZE", "1", 1);
    testing::internal::CaptureStderr();
    {
        WhisperServer server(model, "en", remembering());
        EXPECT_EQ(server.transcribe(tone(2)), sentence);
        EXPECT_FALSE(server.device().isGraphicsCard);
        EXPECT_EQ(server.device().graphicsCard, "") << "the driver stays out of the process";
        EXPECT_EQ(server.deviceDescription().rfind("the processor, ", 0), 0u);
        EXPECT_TRUE(processIsAlive(server.serverId()));
        EXPECT_TRUE(hasArgument(server.serverId(), "-ng")) << commandOf(server.serverId());
        EXPECT_EQ(server.transcribe(tone(1)), sentence);
    }
    // A later start of the same program and engine goes to the processor at once.
    {
        WhisperServer server(model, "en", remembering());
        EXPECT_EQ(server.transcribe(tone(1)), sentence);
        EXPECT_FALSE(server.device().isGraphicsCard);
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOf(errors, "[Dictation] speech engine: gpu failed, using the cpu: "), 1)
        << errors;
    EXPECT_EQ(countOf(errors, "restarting whisper"), 0) << errors;
    // Another engine (here: a changed program file) tries the card again.
    writeAll(dir / "cache" / "gpu-failed", "another engine\n");
    ::unsetenv("GGML_VK_FORCE_MAX_BUFFER_SIZE");
    WhisperServer server(model, "en", remembering());
    EXPECT_EQ(server.transcribe(tone(1)), sentence);
    EXPECT_TRUE(server.device().isGraphicsCard);
}

class StandIn : public SpeechEngine {
  protected:
    void SetUp() override {
        SpeechEngine::SetUp();
        if (::access("/usr/bin/python3", X_OK) != 0) {
            GTEST_SKIP() << "/usr/bin/python3 is not installed; the stand-in server needs it";
        }
        std::filesystem::create_directories(record);
        ::setenv("STAND_IN_RECORD", record.c_str(), 1);
        ::unsetenv("STAND_IN_REPLY");
        ::unsetenv("STAND_IN_DELAY");
    }
    WhisperServer::Setup setup(const std::string& mode) const {
        ::setenv("STAND_IN_MODE", mode.c_str(), 1);
        auto setup = standardSetup();
        setup.program = STAND_IN_SERVER;
        return setup;
    }
    std::vector<nlohmann::json> starts() const {
        std::vector<nlohmann::json> lines;
        std::ifstream in(record / "starts");
        for (std::string line; std::getline(in, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        return lines;
    }
    int requests() const {
        int count = 0;
        while (
            std::filesystem::exists(record / ("request-" + std::to_string(count + 1) + ".body"))) {
            ++count;
        }
        return count;
    }
    std::filesystem::path record = dir / "record";
};

TEST_F(StandIn, SendsTheExactCommandLineAndMultipartBody) {
    auto threeThreads = setup("ok");
    threeThreads.threads = 3;
    WhisperServer server(dir / "model.bin", "de", threeThreads);
    const std::string wav = WavEncoder::encode(std::vector<float>{0.5f, -0.5f});
    EXPECT_EQ(server.attempt(wav, "Kubernetes, Grafana."), "Hello there.");
    EXPECT_EQ(server.attempt(wav, ""), "Hello there.");

    ASSERT_EQ(starts().size(), 1u);
    // The request path comes through the environment, never the command line.
    const std::string prefix = readAll(record / "paths").substr(0, 33);
    EXPECT_TRUE(isLaunchPrefix(prefix)) << prefix;
    EXPECT_EQ(starts()[0],
              nlohmann::json({"-m", (dir / "model.bin").string(), "--host", "127.0.0.1", "--port",
                              std::to_string(server.port()), "-l", "de", "-nt", "-t", "3"}));

    for (int request : {1, 2}) {
        const std::string headers =
            readAll(record / ("request-" + std::to_string(request) + ".headers"));
        EXPECT_EQ(headers.substr(0, headers.find('\n')), "POST " + prefix + "/inference");
        const std::string marker = "Content-Type: multipart/form-data; boundary=";
        const auto at = headers.find(marker);
        ASSERT_NE(at, std::string::npos) << headers;
        const std::string boundary = headers.substr(at + marker.size(), 36);
        EXPECT_TRUE(Uuid::isValid(boundary) && boundary == Uuid::canonical(boundary)) << boundary;

        std::string expected =
            "--" + boundary +
            "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n\r\n" +
            wav + "\r\n--" + boundary +
            "\r\nContent-Disposition: form-data; name=\"response_format\"\r\n\r\ntext\r\n--" +
            boundary + "\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nde\r\n";
        if (request == 1) {
            expected += "--" + boundary +
                        "\r\nContent-Disposition: form-data; name=\"prompt\"\r\n\r\nKubernetes, "
                        "Grafana.\r\n";
        }
        // A clip of two samples gets the shortest context, and every request the thresholds.
        for (const auto& [name, value] :
             std::vector<std::pair<std::string, std::string>>{{"audio_ctx", "256"},
                                                              {"entropy_thold", "2.8"},
                                                              {"logprob_thold", "-1.25"},
                                                              {"no_speech_thold", "0.6"}}) {
            expected += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                        "\"\r\n\r\n" + value + "\r\n";
        }
        expected += "--" + boundary + "--\r\n";
        EXPECT_EQ(readAll(record / ("request-" + std::to_string(request) + ".body")), expected)
            << "request " << request;
    }
}

TEST_F(StandIn, TranscribeSendsTheRecordingWithTheVocabularyAsPrompt) {
    ::setenv("STAND_IN_REPLY", "  first line \n\n second line\n", 1);
    WhisperServer server(dir / "model.bin", "en", setup("ok"));
    const std::vector<float> samples{0.1f, 0.2f, -0.3f};
    EXPECT_EQ(server.transcribe(samples), "first line second line");
    writeAll(standardSetup().vocabulary, "# mine\nKubernetes\n\nGrafana\n");
    EXPECT_EQ(server.transcribe(samples), "first line second line");

    const std::string without = readAll(record / "request-1.body");
    const std::string with = readAll(record / "request-2.body");
    EXPECT_NE(without.find(WavEncoder::encode(samples)), std::string::npos);
    EXPECT_EQ(without.find("name=\"prompt\""), std::string::npos);
    EXPECT_NE(with.find("name=\"prompt\"\r\n\r\nKubernetes, Grafana.\r\n"), std::string::npos);
}

TEST_F(StandIn, AStockServerThatWouldShowItsPathIsRefused) {
    ::setenv("STAND_IN_STOCK", "1", 1);
    WhisperServer server(dir / "model.bin", "en", setup("ok"));
    testing::internal::CaptureStderr();
    const std::string failure = failureOf([&] { server.attempt(WavEncoder::encode({}), ""); });
    const std::string errors = testing::internal::GetCapturedStderr();
    ::unsetenv("STAND_IN_STOCK");
    EXPECT_EQ(failure, "process: whisper did not start");
    EXPECT_TRUE(starts().empty()) << "it was never started as a server";
    EXPECT_EQ(countOf(errors, "[Dictation] refusing " + std::string(STAND_IN_SERVER) +
                                  ": it cannot keep its request path from other users"),
              1)
        << errors;
}

TEST_F(StandIn, AServerThatDiesAtStartIsGivenUpAtOnce) {
    WhisperServer server(dir / "model.bin", "en", setup("die"));
    const auto start = Clock::now();
    EXPECT_EQ(failureOf([&] { server.attempt(WavEncoder::encode({}), ""); }),
              "process: whisper did not start");
    EXPECT_LT(Clock::now() - start, 5s) << "the 40 s limit is for a server that stays alive";
}

TEST_F(StandIn, AServerThatNeverAnswersIsGivenUpAtTheLimitAndEnded) {
    auto limited = setup("never-ready");
    limited.probeLimit = 1500ms;
    WhisperServer server(dir / "model.bin", "en", limited);
    const auto start = Clock::now();
    EXPECT_EQ(failureOf([&] { server.attempt(WavEncoder::encode({}), ""); }),
              "process: whisper did not start");
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 1400ms);
    EXPECT_LT(took, 5s);
    EXPECT_EQ(server.processId(), 0);
    // The next call starts a new one.
    EXPECT_EQ(failureOf([&] { server.attempt(WavEncoder::encode({}), ""); }),
              "process: whisper did not start");
    EXPECT_EQ(starts().size(), 2u);
}

TEST_F(StandIn, HttpAndTransportFailuresAreThrown) {
    struct Row {
        std::string mode;
        std::string error;
    };
    for (const auto& [mode, error] : std::vector<Row>{
             {"error", "process: no reply from whisper"},
             {"hangup", "process: whisper request failed: "},
             {"slow", "process: whisper request failed: Operation timed out"},
         }) {
        auto limited = setup(mode);
        limited.requestLimit = 1s;
        WhisperServer server(dir / "model.bin", "en", limited);
        const auto start = Clock::now();
        const std::string failure =
            failureOf([&] { server.attempt(WavEncoder::encode(std::vector<float>{0.1f}), ""); });
        EXPECT_EQ(failure.substr(0, error.size()), error) << mode << ": " << failure;
        EXPECT_LT(Clock::now() - start, 3s) << mode;
    }
}

TEST_F(StandIn, AFailedTranscriptionIsRetriedExactlyOnceOnAFreshServer) {
    WhisperServer server(dir / "model.bin", "en", setup("error"));
    testing::internal::CaptureStderr();
    const std::string failure = failureOf([&] {
        server.transcribe(std::vector<float>{0.1f, 0.2f});
    });
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(failure, "process: no reply from whisper");
    EXPECT_EQ(requests(), 2);
    ASSERT_EQ(starts().size(), 2u) << "restarted between the tries";
    EXPECT_NE(starts()[0][5], starts()[1][5]) << "a new port";
    EXPECT_EQ(countOf(errors, std::string(restartLine) + "process: no reply from whisper\n"), 1)
        << errors;
}

TEST_F(StandIn, AListenerThatIsNotTheServerEndsItAndAnotherStartsOnAFreshPort) {
    // The first server leaves its port to another program, which answers as a server would.
    WhisperServer server(dir / "model.bin", "en", setup("squatted"));
    testing::internal::CaptureStderr();
    const std::string text = server.transcribe(std::vector<float>{0.1f});
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(text, "Hello there.");
    ASSERT_EQ(starts().size(), 2u);
    const std::string first = starts()[0][5];
    EXPECT_NE(first, starts()[1][5]) << "a fresh port";
    EXPECT_EQ(std::to_string(server.port()), starts()[1][5]);
    EXPECT_EQ(countOf(errors, "[Dictation] whisper port " + first +
                                  " is held by another process, starting another\n"),
              1)
        << errors;
    EXPECT_EQ(countOf(errors, restartLine), 0) << errors;
    EXPECT_EQ(requests(), 1);
    // The squatter leaves with the first server, which was ended.
    EXPECT_TRUE(eventually([&] { return !portAnswers(std::stoi(first)); }, 3));
}

TEST_F(StandIn, RequestsRunInParallel) {
    ::setenv("STAND_IN_DELAY", "1", 1);
    WhisperServer server(dir / "model.bin", "en", setup("slow"));
    server.attempt(WavEncoder::encode({}), ""); // started and warm
    const auto start = Clock::now();
    std::string first, second;
    std::thread other(
        [&] { first = server.attempt(WavEncoder::encode(std::vector<float>{0.1f}), ""); });
    second = server.attempt(WavEncoder::encode(std::vector<float>{0.2f}), "");
    other.join();
    EXPECT_EQ(first, "Hello there.");
    EXPECT_EQ(second, "Hello there.");
    EXPECT_LT(Clock::now() - start, 1800ms) << "the two requests waited for each other";
}

TEST_F(StandIn, AnotherModelTakesOverBetweenDictationsNeverDuringOne) {
    ::setenv("STAND_IN_DELAY", "1", 1);
    WhisperServer server(dir / "large.bin", "en", setup("slow"));
    server.attempt(WavEncoder::encode({}), ""); // started on the first model
    std::string during;
    std::thread dictation(
        [&] { during = server.attempt(WavEncoder::encode(std::vector<float>{0.1f}), ""); });
    ASSERT_TRUE(eventually([&] { return requests() == 2; }, 5)) << "the dictation never began";
    server.useModel(dir / "small.bin");
    EXPECT_EQ(server.model(), dir / "small.bin");
    dictation.join();
    EXPECT_EQ(during, "Hello there.") << "the dictation under way was cut off";
    ASSERT_EQ(starts().size(), 1u) << "the server restarted during a dictation";

    EXPECT_EQ(server.attempt(WavEncoder::encode({}), ""), "Hello there.");
    ASSERT_EQ(starts().size(), 2u);
    EXPECT_EQ(starts()[1][1], (dir / "small.bin").string());
    // Chosen again as it is: no restart.
    server.useModel(dir / "small.bin");
    server.attempt(WavEncoder::encode({}), "");
    EXPECT_EQ(starts().size(), 2u);
}

// The value of a multipart field in a recorded body; "" when the body has none.
std::string fieldOf(const std::string& body, const std::string& name) {
    const std::string marker = "name=\"" + name + "\"\r\n\r\n";
    const auto at = body.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    const auto start = at + marker.size();
    return body.substr(start, body.find("\r\n", start) - start);
}

TEST_F(StandIn, EachRequestCutsTheEncoderToTheClipAndGuardsTheDecoding) {
    const struct {
        double seconds;
        bool tuned;
        const char* context;
        const char* entropy;
    } rows[] = {
        {1.0, true, "256", "2.8"},  {5.0, true, "320", "2.8"},
        {15.0, true, "816", "2.8"}, {29.9, true, "", "2.8"}, // near 30 s: the full window, no field
        {5.0, false, "", ""},                                // as it was: whisper's own choices
    };
    int request = 0;
    for (const auto& row : rows) {
        auto chosen = setup("ok");
        chosen.fitsContext = row.tuned;
        chosen.guardsDecoding = row.tuned;
        WhisperServer server(dir / "model.bin", "en", chosen);
        const std::vector<float> clip(static_cast<std::size_t>(row.seconds * 16000), 0.1f);
        EXPECT_EQ(server.transcribe(clip), "Hello there.");
        const std::string body =
            readAll(record / ("request-" + std::to_string(++request) + ".body"));
        EXPECT_EQ(fieldOf(body, "audio_ctx"), row.context) << row.seconds << " s";
        EXPECT_EQ(fieldOf(body, "entropy_thold"), row.entropy) << row.seconds << " s";
        EXPECT_EQ(fieldOf(body, "no_speech_thold"), row.tuned ? "0.6" : "") << row.seconds;
        EXPECT_EQ(fieldOf(body, "logprob_thold"), row.tuned ? "-1.25" : "") << row.seconds;
    }
}

TEST_F(StandIn, ALoopingTranscriptIsAskedOnceMoreWithTheFullContextAndNotLogged) {
    WhisperServer server(dir / "model.bin", "en", setup("loop"));
    testing::internal::CaptureStderr();
    const std::string text = server.transcribe(std::vector<float>(5 * 16000, 0.1f));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(text, "Hello there.");
    ASSERT_EQ(requests(), 2);
    EXPECT_EQ(fieldOf(readAll(record / "request-1.body"), "audio_ctx"), "320");
    EXPECT_EQ(fieldOf(readAll(record / "request-2.body"), "audio_ctx"), "");
    EXPECT_EQ(countOf(errors, "transcript repeats itself, asking again with the full context"), 1)
        << errors;
    EXPECT_EQ(errors.find("Thank you"), std::string::npos) << errors;
    // A looping live preview is dropped rather than asked again.
    EXPECT_EQ(server.preview(WavEncoder::encode(std::vector<float>(16000, 0.1f)), ""), "");
    EXPECT_EQ(requests(), 3);
}

TEST_F(StandIn, APreviewGivesWayAtOnceAndTheServerSeesItsClientLeave) {
    ::setenv("STAND_IN_DELAY", "20", 1);
    WhisperServer server(dir / "model.bin", "en", setup("slow"));
    std::string failure;
    std::thread preview([&] {
        failure =
            failureOf([&] { server.preview(WavEncoder::encode(std::vector<float>{0.1f}), ""); });
    });
    ASSERT_TRUE(eventually([&] { return requests() == 1; }, 10));
    const auto start = Clock::now();
    server.giveWay();
    preview.join();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(failure, "process: whisper request gave way");
    EXPECT_TRUE(
        eventually([&] { return std::filesystem::exists(record / "request-1.abandoned"); }, 3))
        << "the connection was closed, which is what stops the server's work";
}

TEST_F(StandIn, TheFinalTranscriptionNeverWaitsBehindAPreview) {
    // One request at a time, as whisper-server computes them.
    ::setenv("STAND_IN_SERIAL", "1", 1);
    ::setenv("STAND_IN_DELAY", "3", 1);
    WhisperServer server(dir / "model.bin", "en", setup("slow"));
    server.attempt(WavEncoder::encode({}), ""); // started
    std::string failure;
    std::thread live([&] {
        failure =
            failureOf([&] { server.preview(WavEncoder::encode(std::vector<float>{0.1f}), ""); });
    });
    ASSERT_TRUE(eventually([&] { return requests() == 2; }, 10));
    const auto start = Clock::now();
    EXPECT_EQ(server.transcribe(std::vector<float>{0.2f}), "Hello there.");
    const auto took = Clock::now() - start;
    live.join();
    ::unsetenv("STAND_IN_SERIAL");
    EXPECT_EQ(failure, "process: whisper request gave way");
    EXPECT_LT(took, 4500ms) << "the final request waited for the preview's three seconds";
    EXPECT_TRUE(std::filesystem::exists(record / "request-2.abandoned"));
}

TEST_F(StandIn, AReplacedServerIsEndedWithItsWholeGroupBeforeTheNextStarts) {
    // A server that finishes its request before it obeys SIGTERM, and takes 20 s for it.
    ::setenv("STAND_IN_STUBBORN", "1", 1);
    ::setenv("STAND_IN_DELAY", "20", 1);
    auto limited = setup("slow");
    limited.requestLimit = 1s;
    WhisperServer server(dir / "model.bin", "en", limited);
    testing::internal::CaptureStderr();
    const std::string failure = failureOf([&] { server.transcribe(std::vector<float>{0.1f}); });
    testing::internal::GetCapturedStderr();
    const pid_t wrapper = server.processId();
    server.shutDown();
    ::unsetenv("STAND_IN_STUBBORN");
    EXPECT_EQ(failure.rfind("process: whisper request failed: Operation timed out", 0), 0u)
        << failure;
    ASSERT_EQ(starts().size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(record / "overlap"))
        << "the first server still computed when the second started";
    std::ifstream pids(record / "pids");
    for (pid_t pid; pids >> pid;) {
        EXPECT_FALSE(processIsAlive(pid)) << pid;
    }
    EXPECT_FALSE(wrapper != 0 && processIsAlive(wrapper));
}

TEST_F(StandIn, TheRequestLimitFollowsTheSpeedMeasuredHere) {
    WhisperServer server(dir / "model.bin", "en", setup("ok"));
    EXPECT_EQ(server.requestLimit(5), Recognition::EngineSpeed::ceilingLimit)
        << "a first request may be slow";
    EXPECT_FALSE(server.keepsUp(5, 0.8));
    server.attempt(WavEncoder::encode(std::vector<float>(16000, 0.1f)), "");
    EXPECT_EQ(server.requestLimit(5), Recognition::EngineSpeed::floorLimit)
        << "a quick engine still gets the floor";
    EXPECT_TRUE(server.keepsUp(12, 0.8));

    auto fixed = setup("ok");
    fixed.requestLimit = 7s;
    EXPECT_EQ(WhisperServer(dir / "model.bin", "en", fixed).requestLimit(29), 7s);
}

TEST(WhisperServerDevice, TheServersOwnReportNamesTheDevice) {
    const struct {
        const char* lines;
        WhisperServer::Device device;
    } rows[] = {
        {"load_backend: loaded CPU backend from /opt/x/libggml-cpu-sapphirerapids.so\n"
         "whisper_backend_init_gpu: no GPU found",
         {false, "", "sapphirerapids", 0}},
        {"ggml_vulkan: Found 1 Vulkan devices:\n"
         "ggml_vulkan: 0 = NVIDIA GeForce RTX 3060 (NVIDIA) | uma: 0 | fp16: 1 | bf16: 0\n"
         "whisper_backend_init_gpu: using Vulkan0 backend\n"
         "load_backend: loaded CPU backend from /opt/x/libggml-cpu-haswell.so",
         {true, "NVIDIA GeForce RTX 3060 (NVIDIA)", "haswell", 0}},
        {"whisper_init_state: compute buffer (encode) = 85.86 MB\nReceived request: audio.wav\n"
         " Send the notes to Maria.",
         {false, "", "", 0}},
    };
    for (const auto& row : rows) {
        WhisperServer::Device device;
        std::istringstream in(row.lines);
        for (std::string line; std::getline(in, line);) {
            WhisperServer::readDeviceLine(line, device);
        }
        EXPECT_EQ(device, row.device) << row.lines;
    }
    EXPECT_EQ(WhisperServer::describe({true, "llvmpipe (LLVM 15)", "haswell", 2}),
              "the graphics card: llvmpipe (LLVM 15)");
    EXPECT_EQ(WhisperServer::describe({false, "", "haswell", 4}),
              "the processor, 4 threads (haswell instructions)");
    EXPECT_EQ(WhisperServer::describe({false, "", "", 1}), "the processor, 1 thread");
}

TEST(WhisperServerThreads, OnePerPhysicalCoreThisThreadMayUseAtMostEight) {
    const int all = WhisperServer::automaticThreads();
    EXPECT_GE(all, 1);
    EXPECT_LE(all, WhisperServer::maxThreads);
    EXPECT_LE(all, static_cast<int>(std::thread::hardware_concurrency()));
    // Held to one processor, the engine gets one thread.
    std::thread([] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
        EXPECT_EQ(WhisperServer::automaticThreads(), 1);
    }).join();
}

TEST(WhisperServerPorts, RandomPortsCoverTheDynamicRange) {
    int lowest = 70000, highest = 0;
    for (int i = 0; i < 20000; ++i) {
        const int port = WhisperServer::randomPort();
        lowest = std::min(lowest, port);
        highest = std::max(highest, port);
    }
    EXPECT_GE(lowest, 49152);
    EXPECT_LE(highest, 65000);
    EXPECT_LT(lowest, 49152 + 100);
    EXPECT_GT(highest, 65000 - 100);
}

} // namespace
