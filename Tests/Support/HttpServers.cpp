#include "HttpServers.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port nothing listens on right now; another program may still take it before the server
// binds it, which is why WebServer tries again.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("no free port on 127.0.0.1");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string textOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string addressOf(int port) {
    return "http://127.0.0.1:" + std::to_string(port);
}

std::string quoted(const fs::path& path) {
    return '"' + path.string() + '"';
}

// One process (no workers): it reads the test's files as the test's own user, whatever their
// mode, and ending the process BackgroundProcess started ends the whole server.
std::string nginxConfiguration(const fs::path& folder, int port, std::size_t slowBytesPerSecond) {
    const std::string www = quoted(folder / "www/");
    const std::string temporary = quoted(folder / "tmp");
    std::ostringstream conf;
    conf << "daemon off;\nmaster_process off;\n"
         << "pid " << quoted(folder / "nginx.pid") << ";\n"
         << "error_log " << quoted(folder / "error.log") << ";\n"
         << "events { worker_connections 256; }\n"
         << "http {\n"
         // Unbuffered (no buffer= given): each line is written when its request ends.
         << "  log_format requests '$request_method $request_uri $http_range $status "
            "$body_bytes_sent';\n"
         << "  access_log " << quoted(folder / "access.log") << " requests;\n"
         << "  default_type application/octet-stream;\n"
         << "  client_body_temp_path " << temporary << "; proxy_temp_path " << temporary
         << "; fastcgi_temp_path " << temporary << "; uwsgi_temp_path " << temporary
         << "; scgi_temp_path " << temporary << ";\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port << ";\n"
         << "    root " << www << ";\n"
         << "    location /slow/ { alias " << www << "; limit_rate " << slowBytesPerSecond
         << "; }\n"
         // Adding an empty piece before the body leaves the bytes as they are but makes the
         // length unknown, so nginx sends no Content-Length.
         << "    location /nolength/ { alias " << www
         << "; add_before_body /.nothing; addition_types *; }\n"
         << "    location = /.nothing { internal; alias " << quoted(folder / "nothing") << "; }\n"
         << "  }\n"
         << "}\n";
    return conf.str();
}

std::string nginxProgram() {
    // Debian keeps it in /usr/sbin, which is not on every user's search path.
    return fs::exists("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "nginx";
}

const char* nameOf(ScriptedServer::Mode mode) {
    switch (mode) {
    case ScriptedServer::Mode::dropAfter:
        return "drop-after";
    case ScriptedServer::Mode::ignoresRange:
        return "ignores-range";
    case ScriptedServer::Mode::noLength:
        return "no-length";
    case ScriptedServer::Mode::notFound:
        return "not-found";
    case ScriptedServer::Mode::errorPage:
        return "error-page";
    case ScriptedServer::Mode::silent:
        return "silent";
    case ScriptedServer::Mode::redirect:
        return "redirect";
    case ScriptedServer::Mode::endless:
        return "endless";
    case ScriptedServer::Mode::hugeLength:
        return "huge-length";
    }
    return "";
}

} // namespace

ServerFolder::ServerFolder() {
    std::string pattern = (fs::temp_directory_path() / "parlwick-http-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot make a folder in " + fs::temp_directory_path().string());
    }
    path_ = pattern;
}

ServerFolder::~ServerFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

WebServer::WebServer(std::size_t slowBytesPerSecond) {
    const fs::path& folder = folder_.path();
    fs::create_directories(folder / "www");
    fs::create_directories(folder / "tmp");
    std::ofstream(folder / "nothing").flush();
    const fs::path configuration = folder / "nginx.conf";
    const fs::path errors = folder / "error.log";
    // nginx binds a few moments after the port was found free; if something took it in
    // between, it fails with "Address already in use" and another port is tried.
    std::string failure;
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freePort();
        std::ofstream(configuration) << nginxConfiguration(folder, port_, slowBytesPerSecond);
        for (const char* stale : {"error.log", "output.log", "nginx.pid"}) {
            fs::remove(folder / stale);
        }
        process_.emplace(std::vector<std::string>{nginxProgram(), "-p", folder.string(), "-c",
                                                  configuration.string(), "-e", errors.string()},
                         std::vector<std::pair<std::string, std::string>>{},
                         (folder / "output.log").string());
        // nginx writes its pid file only once it holds the port: a connection that some other
        // program accepts does not count.
        const bool ready = eventually(
            [&] {
                return !process_->isRunning() ||
                       (fs::exists(folder / "nginx.pid") && accepts(port_));
            },
            10);
        if (ready && process_->isRunning()) {
            return;
        }
        process_.reset();
        failure = textOf(errors) + textOf(folder / "output.log");
        if (!ready) {
            throw std::runtime_error("nginx did not answer within 10 s: " + failure);
        }
        if (failure.find("Address already in use") == std::string::npos) {
            break;
        }
    }
    throw std::runtime_error("nginx did not start: " +
                             (failure.empty() ? "no output (is nginx-light installed?)" : failure));
}

std::string WebServer::address() const {
    return addressOf(port_);
}

std::filesystem::path WebServer::root() const {
    return folder_.path() / "www";
}

std::vector<std::string> WebServer::requests() const {
    return linesOf(folder_.path() / "access.log");
}

ScriptedServer::ScriptedServer(Mode mode, std::filesystem::path file, std::size_t dropAfterBytes,
                               std::string redirectTo) {
    const fs::path& folder = folder_.path();
    const fs::path portFile = folder / "port";
    const fs::path output = folder / "output.log";
    // The script binds port 0 itself and reports the port it got: no race for the port.
    process_.emplace(
        std::vector<std::string>{PARLWICK_SCRIPTED_HTTP_SERVER, "--mode", nameOf(mode), "--file",
                                 file.string(), "--port-file", portFile.string(), "--log",
                                 (folder / "requests.log").string(), "--drop-after",
                                 std::to_string(dropAfterBytes), "--redirect-to", redirectTo},
        std::vector<std::pair<std::string, std::string>>{}, output.string());
    const bool ready =
        eventually([&] { return !process_->isRunning() || fs::exists(portFile); }, 10);
    if (!ready || !process_->isRunning()) {
        process_.reset();
        const std::string said = textOf(output);
        throw std::runtime_error("scripted-http-server.py did not start: " +
                                 (said.empty() ? "no output" : said));
    }
    port_ = std::stoi(textOf(portFile));
}

std::string ScriptedServer::address() const {
    return addressOf(port_);
}

std::vector<std::string> ScriptedServer::requests() const {
    return linesOf(folder_.path() / "requests.log");
}
