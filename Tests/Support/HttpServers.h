#pragma once

#include "BackgroundProcess.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Web servers on 127.0.0.1 for the downloader's tests and benchmark: a real nginx for real
// transfers, and a scripted server for the failures a real one will not produce on demand.
// Each ends its process and removes its folder when it goes out of scope.

// A fresh folder under the temporary folder, removed with everything in it.
class ServerFolder {
  public:
    ServerFolder();
    ~ServerFolder();
    ServerFolder(const ServerFolder&) = delete;
    ServerFolder& operator=(const ServerFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// nginx with a configuration of its own. The files under root() are served at "/", at
// "/slow/" limited to slowBytesPerSecond (0: no limit), so a test can cut a transfer half-way,
// and at "/nolength/" without a Content-Length (chunked, or ended by the close for HTTP/1.0)
// and so always whole, whatever the Range.
// Throws std::runtime_error when nginx does not start.
class WebServer {
  public:
    explicit WebServer(std::size_t slowBytesPerSecond = 256 * 1024);

    std::string address() const;
    std::filesystem::path root() const;
    // "METHOD URI RANGE STATUS BYTES", one per request in order; RANGE is the Range header
    // or "-", BYTES the body bytes sent (under "/nolength/" with the chunk framing). nginx
    // logs a request when it is done with it, a moment after the client saw the last byte.
    std::vector<std::string> requests() const;

  private:
    // Declared first, so it goes last: the server ends before its folder is removed.
    ServerFolder folder_;
    int port_ = 0;
    std::optional<BackgroundProcess> process_;
};

// Tests/Support/scripted-http-server.py, answering GET and HEAD for every path with `file` as
// `mode` says:
//   dropAfter     the first request gets 200 (206 with Content-Range for a Range) with the whole
//                 Content-Length but only dropAfterBytes of the body, then the close; every
//                 later one is whole and honours "bytes=N-" and "bytes=N-M"
//   ignoresRange  200 with the whole file, whatever the Range
//   noLength      an HTTP/1.0 200 without Content-Length, ended by the close
//   notFound      404 with a small HTML page
//   errorPage     200 with a small HTML error page (text/html) instead of the file
//   silent        reads the request, never answers, keeps the connection open
//   redirect      302 with Location: redirectTo
// Throws std::runtime_error when the script does not start.
class ScriptedServer {
  public:
    enum class Mode {
        dropAfter,
        ignoresRange,
        noLength,
        notFound,
        errorPage,
        silent,
        redirect,
        endless,
        hugeLength
    };

    ScriptedServer(Mode mode, std::filesystem::path file, std::size_t dropAfterBytes = 0,
                   std::string redirectTo = {});

    std::string address() const;
    // "METHOD URI RANGE", one per request in order, logged when the request has been read.
    std::vector<std::string> requests() const;

  private:
    // Declared first, so it goes last: the server ends before its folder is removed.
    ServerFolder folder_;
    int port_ = 0;
    std::optional<BackgroundProcess> process_;
};
