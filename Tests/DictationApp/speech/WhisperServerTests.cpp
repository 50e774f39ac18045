// The speech engine against the real whisper-server (with a generated model that answers a
// fixed sentence) and against a scripted stand-in for exact bytes and failures.
#include "platform/AppError.h"
#include "AudioTools.h"
#include "BackgroundProcess.h"
#include "TestModels.h"
#include "TestSupport.h"
#include "Uuid.h"
#include "WavEncoder.h"
#include "speech/WhisperServer.h"

#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* sentence = "Hello from the test server.";
constexpr const char* restartLine = "[Dictation] transcription failed, restarting whisper: ";

std::vector<float> tone(double seconds) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * 16000));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.3f * static_cast<float>(
                                std::sin(2 * 3.14159265 * 440 * static_cast<double>(i) / 16000));
    }
    return samples;
}

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

class SpeechEngine : public testing::Test {
  protected:
    void SetUp() override {
        // On an abort, ggml would otherwise try to attach a debugger.
        ::setenv("GGML_NO_BACKTRACE", "1", 1);
    }
    // The program found on PATH, the vocabulary in a private support folder.
    WhisperServer::Setup standardSetup() const {
        return WhisperServer::Setup::standard(
            Paths("/opt/parlwick/bin/parlwick", std::nullopt, Paths::Homes::under(dir.path()),
                  dir.path()));
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
    ASSERT_TRUE(eventually(
        [&] {
            std::ifstream in(report);
            return static_cast<bool>(in >> port >> wrapper);
        },
        20))
        << readAll(report);
    const pid_t engine = serverUnder(wrapper);
    ASSERT_NE(engine, 0);
    ASSERT_TRUE(portAnswers(port));

    owner.end(SIGKILL);
    EXPECT_TRUE(eventually([&] { return !processIsAlive(engine); }, 3))
        << "the server outlived the process that started it";
    EXPECT_FALSE(portAnswers(port));
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

TEST_F(RealServer, APortAlreadyTakenIsRecoveredByTheRetry) {
    // Held without SO_REUSEPORT, the port makes the server exit.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const int taken = ntohs(address.sin_port);

    auto withTakenPort = setup();
    int calls = 0;
    withTakenPort.choosePort = [&] { return calls++ == 0 ? taken : WhisperServer::randomPort(); };
    WhisperServer server(model, "en", withTakenPort);
    testing::internal::CaptureStderr();
    const std::string text = server.transcribe(tone(0.5));
    const std::string errors = testing::internal::GetCapturedStderr();
    ::close(holder);
    EXPECT_EQ(text, sentence);
    EXPECT_NE(server.port(), taken);
    EXPECT_EQ(countOf(errors, std::string(restartLine) + "process: whisper did not start"), 1)
        << errors;
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
    WhisperServer server(dir / "model.bin", "de", setup("ok"));
    const std::string wav = WavEncoder::encode(std::vector<float>{0.5f, -0.5f});
    EXPECT_EQ(server.attempt(wav, "Kubernetes, Grafana."), "Hello there.");
    EXPECT_EQ(server.attempt(wav, ""), "Hello there.");

    ASSERT_EQ(starts().size(), 1u);
    EXPECT_EQ(starts()[0],
              nlohmann::json({"-m", (dir / "model.bin").string(), "--host", "127.0.0.1", "--port",
                              std::to_string(server.port()), "-l", "de", "-nt"}));

    for (int request : {1, 2}) {
        const std::string headers =
            readAll(record / ("request-" + std::to_string(request) + ".headers"));
        EXPECT_EQ(headers.substr(0, headers.find('\n')), "POST /inference");
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
