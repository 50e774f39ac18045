// The two web servers the download tests use, each mode spoken to with libcurl or a plain
// socket, so a downloader test that fails is failing on the downloader.
#include "HttpServers.h"
#include "TestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Mode = ScriptedServer::Mode;

struct Request {
    std::string range = {};
    bool head = false;
    bool http10 = false;
    // The client hangs up once it holds this many body bytes.
    std::size_t stopAfter = std::string::npos;
};

struct Reply {
    CURLcode result = CURLE_OK;
    long status = 0;
    long version = 0;
    std::map<std::string, std::string> headers;
    std::string body;
    std::size_t stopAfter = std::string::npos;

    std::optional<std::string> header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::nullopt : std::optional(found->second);
    }
};

std::size_t keepBody(char* data, std::size_t size, std::size_t count, void* to) {
    auto& reply = *static_cast<Reply*>(to);
    reply.body.append(data, size * count);
    // Returning less than was given makes libcurl end the transfer.
    return reply.body.size() >= reply.stopAfter ? 0 : size * count;
}

Reply fetch(const std::string& url, const Request& request = {}) {
    Reply reply;
    reply.stopAfter = request.stopAfter;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keepBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    const std::string range = request.range.substr(request.range.find('=') + 1);
    curl_easy_setopt(curl, CURLOPT_RANGE, request.range.empty() ? nullptr : range.c_str());
    curl_easy_setopt(curl, CURLOPT_NOBODY, request.head ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION,
                     request.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    reply.result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(curl, CURLINFO_HTTP_VERSION, &reply.version);
    for (const char* name :
         {"Content-Length", "Content-Range", "Content-Type", "Transfer-Encoding", "Location"}) {
        curl_header* header = nullptr;
        if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &header) == CURLHE_OK) {
            reply.headers[name] = header->value;
        }
    }
    curl_easy_cleanup(curl);
    return reply;
}

std::string randomBytes(std::size_t size) {
    std::mt19937 generator(7);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(generator() & 0xff);
    }
    return bytes;
}

void writeFile(const fs::path& file, const std::string& data) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << data;
}

// A connected socket that has sent a request and waits at most five seconds for each read.
int sendRequest(const std::string& address, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port =
        htons(static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1))));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    const std::string text = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST(WebServerTests, ServesFilesWholeOrFromAnOffsetLogsEachRequestAndGoesAtTheEnd) {
    const std::string data = randomBytes(300000);
    const std::string path = "/ggml-org/whisper-vad/resolve/main/x.bin";
    fs::path root;
    std::string address;
    {
        WebServer server;
        root = server.root();
        address = server.address();
        writeFile(root / path.substr(1), data);

        const Reply whole = fetch(address + path);
        EXPECT_EQ(whole.result, CURLE_OK);
        EXPECT_EQ(whole.status, 200);
        EXPECT_EQ(whole.header("Content-Length"), "300000");
        EXPECT_TRUE(whole.body == data);

        const Reply tail = fetch(address + path, {.range = "bytes=1000-"});
        EXPECT_EQ(tail.status, 206);
        EXPECT_EQ(tail.header("Content-Range"), "bytes 1000-299999/300000");
        EXPECT_TRUE(tail.body == data.substr(1000));

        EXPECT_EQ(fetch(address + "/missing.bin").status, 404);

        ASSERT_TRUE(eventually([&] { return server.requests().size() == 3; }, 10));
        const auto requests = server.requests();
        EXPECT_EQ(requests[0], "GET " + path + " - 200 300000");
        EXPECT_EQ(requests[1], "GET " + path + " bytes=1000- 206 299000");
        EXPECT_EQ(requests[2].rfind("GET /missing.bin - 404 ", 0), 0u) << requests[2];
    }
    EXPECT_FALSE(fs::exists(root.parent_path()));
    EXPECT_EQ(fetch(address + path).result, CURLE_COULDNT_CONNECT);
}

TEST(WebServerTests, SlowPathLetsATransferBeCutAndThenResumed) {
    WebServer server(64 * 1024);
    const std::string data = randomBytes(1 << 20);
    writeFile(server.root() / "model.bin", data);

    const Reply cut = fetch(server.address() + "/slow/model.bin", {.stopAfter = 32 * 1024});
    EXPECT_EQ(cut.result, CURLE_WRITE_ERROR);
    EXPECT_EQ(cut.header("Content-Length"), std::to_string(data.size()));
    ASSERT_GE(cut.body.size(), 32u * 1024);

    const Reply rest = fetch(server.address() + "/model.bin",
                             {.range = "bytes=" + std::to_string(cut.body.size()) + "-"});
    EXPECT_EQ(rest.status, 206);
    EXPECT_TRUE(cut.body + rest.body == data);

    // Without the limit the whole file would have gone into the socket at once; with it the
    // server had sent only a little when the client hung up.
    ASSERT_TRUE(eventually([&] { return server.requests().size() == 2; }, 10));
    std::istringstream first(server.requests()[0]);
    std::string method, uri, range, status;
    std::size_t sent = 0;
    first >> method >> uri >> range >> status >> sent;
    EXPECT_EQ(method + " " + uri + " " + range + " " + status, "GET /slow/model.bin - 200");
    EXPECT_LT(sent, data.size() / 2);
}

TEST(WebServerTests, NoLengthPathSendsTheSameBytesWithoutAContentLength) {
    WebServer server;
    const std::string data = randomBytes(200000);
    writeFile(server.root() / "model.bin", data);

    const Reply chunked = fetch(server.address() + "/nolength/model.bin");
    EXPECT_EQ(chunked.status, 200);
    EXPECT_EQ(chunked.header("Content-Length"), std::nullopt);
    EXPECT_EQ(chunked.header("Transfer-Encoding"), "chunked");
    EXPECT_TRUE(chunked.body == data);

    const Reply closed = fetch(server.address() + "/nolength/model.bin", {.http10 = true});
    EXPECT_EQ(closed.result, CURLE_OK);
    EXPECT_EQ(closed.header("Content-Length"), std::nullopt);
    EXPECT_EQ(closed.header("Transfer-Encoding"), std::nullopt);
    EXPECT_TRUE(closed.body == data);
}

class ScriptedServerTests : public testing::Test {
  protected:
    TempDir folder;
    const std::string data = randomBytes(100000);
    const fs::path file = folder / "model.bin";

    void SetUp() override { writeFile(file, data); }
};

TEST_F(ScriptedServerTests, DropAfterCutsTheFirstReplyShortAndServesLaterOnesWhole) {
    ScriptedServer server(Mode::dropAfter, file, 5000);
    const Reply first = fetch(server.address() + "/model.bin");
    EXPECT_EQ(first.result, CURLE_PARTIAL_FILE);
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.header("Content-Length"), "100000");
    EXPECT_TRUE(first.body == data.substr(0, 5000));

    const Reply rest = fetch(server.address() + "/model.bin", {.range = "bytes=5000-"});
    EXPECT_EQ(rest.result, CURLE_OK);
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.header("Content-Range"), "bytes 5000-99999/100000");
    EXPECT_EQ(rest.header("Content-Length"), "95000");
    EXPECT_TRUE(rest.body == data.substr(5000));

    const Reply again = fetch(server.address() + "/other.bin");
    EXPECT_EQ(again.result, CURLE_OK);
    EXPECT_TRUE(again.body == data);
    EXPECT_EQ(server.requests(),
              (std::vector<std::string>{"GET /model.bin -", "GET /model.bin bytes=5000-",
                                        "GET /other.bin -"}));

    // A first request that asks for a range gets that range's headers and is cut as well.
    ScriptedServer ranged(Mode::dropAfter, file, 100);
    const Reply cut = fetch(ranged.address() + "/model.bin", {.range = "bytes=1000-"});
    EXPECT_EQ(cut.result, CURLE_PARTIAL_FILE);
    EXPECT_EQ(cut.status, 206);
    EXPECT_EQ(cut.header("Content-Range"), "bytes 1000-99999/100000");
    EXPECT_EQ(cut.header("Content-Length"), "99000");
    EXPECT_TRUE(cut.body == data.substr(1000, 100));
}

// GCC 12 at -O3 takes the strings of this table for read before they are made, in the clean-up
// path of the array's construction; nothing is read there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
TEST_F(ScriptedServerTests, OtherModesAnswerEveryRequestAlike) {
    enum Body { theFile, aPage, nothing };
    const std::string elsewhere = "http://127.0.0.1:9/elsewhere/model.bin";
    const std::optional<std::string> none;
    constexpr long v10 = CURL_HTTP_VERSION_1_0;
    struct Row {
        Mode mode;
        Request request;
        long status;
        std::map<std::string, std::optional<std::string>> headers;
        Body body;
        long version = CURL_HTTP_VERSION_1_1;
    };
    using enum Mode;
    const Row rows[] = {
        {ignoresRange, {.range = "bytes=10-"}, 200, {{"Content-Length", "100000"}}, theFile},
        {ignoresRange, {.head = true}, 200, {{"Content-Length", "100000"}}, nothing},
        {noLength, {}, 200, {{"Content-Length", none}, {"Transfer-Encoding", none}}, theFile, v10},
        {notFound, {}, 404, {{"Content-Type", "text/html"}}, aPage},
        {errorPage, {}, 200, {{"Content-Type", "text/html"}}, aPage},
        {redirect, {}, 302, {{"Location", elsewhere}}, nothing},
    };
    for (const Row& row : rows) {
        ScriptedServer server(row.mode, file, 0, elsewhere);
        const Reply reply = fetch(server.address() + "/model.bin", row.request);
        SCOPED_TRACE("mode " + std::to_string(static_cast<int>(row.mode)));
        EXPECT_EQ(reply.result, CURLE_OK);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_EQ(reply.version, row.version);
        for (const auto& [name, value] : row.headers) {
            EXPECT_EQ(reply.header(name), value) << name;
        }
        if (row.body == theFile) {
            EXPECT_TRUE(reply.body == data);
        } else if (row.body == aPage) {
            EXPECT_EQ(reply.body.rfind("<html>", 0), 0u) << reply.body;
            EXPECT_LT(reply.body.size(), 1000u);
        } else {
            EXPECT_EQ(reply.body, "");
        }
        const std::string range = row.request.range.empty() ? "-" : row.request.range;
        EXPECT_EQ(server.requests(), std::vector<std::string>{(row.request.head ? "HEAD" : "GET") +
                                                              std::string(" /model.bin ") + range});
    }
}
#pragma GCC diagnostic pop

TEST_F(ScriptedServerTests, SilentReadsRequestsOnSeparateThreadsAndNeverAnswers) {
    std::optional<ScriptedServer> server(std::in_place, Mode::silent, file);
    const int first = sendRequest(server->address(), "/first.bin");
    const int second = sendRequest(server->address(), "/second.bin");
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    // The second request is read although the first connection is still held.
    ASSERT_TRUE(eventually([&] { return server->requests().size() == 2; }, 10));
    auto requests = server->requests();
    std::sort(requests.begin(), requests.end());
    EXPECT_EQ(requests, (std::vector<std::string>{"GET /first.bin -", "GET /second.bin -"}));

    pollfd both[] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
    EXPECT_EQ(::poll(both, 2, 300), 0) << "a silent server sent something";

    // Shutting the server down closes what it held open.
    server.reset();
    char byte = 0;
    errno = 0;
    EXPECT_LE(::recv(first, &byte, 1, 0), 0);
    EXPECT_NE(errno, EAGAIN) << "the connection stayed open after the server ended";
    ::close(first);
    ::close(second);
}

} // namespace
