#include "JSONFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Files {

namespace {

std::string failure(const char* what, const std::filesystem::path& url, int code) {
    return std::string(what) + " " + url.filename().string() + ": " + std::strerror(code);
}

} // namespace

Descriptor::~Descriptor() {
    if (fd >= 0) {
        ::close(fd);
    }
}

int Descriptor::release() { return std::exchange(fd, -1); }

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::optional<std::string> readIfPresent(const std::filesystem::path& url, std::size_t spare) {
    Descriptor file{::open(url.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw FileError(failure("couldn't read", url, errno));
    }
    std::string bytes;
    if (struct stat info {}; ::fstat(file.fd, &info) == 0 && info.st_size > 0) {
        bytes.reserve(static_cast<std::size_t>(info.st_size) + spare);
    }
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(file.fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError(failure("couldn't read", url, errno));
        }
        if (count == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

void replaceAtomically(const std::filesystem::path& url, std::string_view bytes) {
    std::error_code folderError;
    std::filesystem::create_directories(url.parent_path(), folderError);
    if (folderError) {
        throw FileError("couldn't create the folder for " + url.filename().string() + ": " +
                        folderError.message());
    }

    std::filesystem::path part = url;
    part += ".part";
    ::unlink(part.c_str()); // a stale one from an interrupted save; failure is harmless here

    Descriptor file{::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    if (file.fd < 0) {
        throw FileError(failure("couldn't save", url, errno));
    }
    // The umask may have taken bits away; the file is the user's alone either way.
    ::fchmod(file.fd, 0600);
    if (!writeAll(file.fd, bytes) || ::close(file.release()) != 0) {
        const int code = errno;
        ::unlink(part.c_str());
        throw FileError(failure("couldn't save", url, code));
    }
    if (::rename(part.c_str(), url.c_str()) != 0) {
        throw FileError(failure("couldn't save", url, errno));
    }
}

} // namespace Files
