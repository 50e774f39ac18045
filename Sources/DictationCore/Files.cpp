#include "Files.h"

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Files {

namespace {

// Older than any save takes, so no writer can still be using it.
constexpr time_t staleSeconds = 600;

FileError failure(const char* what, const fs::path& file, int code) {
    // With O_NOFOLLOW the kernel's own text ("Too many levels of symbolic links") misleads.
    const std::string reason = code == ELOOP ? "refusing a symbolic link" : std::strerror(code);
    return FileError(std::string(what) + " " + file.filename().string() + ": " + reason);
}

struct stat regularFile(const Descriptor& fd, const char* what, const fs::path& file) {
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        throw failure(what, file, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        throw FileError(std::string(what) + " " + file.filename().string() +
                        ": not a regular file");
    }
    return info;
}

// Opens `file` with `flags`, creating it when missing. O_EXCL tells the two cases apart, so only
// a file made here gets its mode set. O_NONBLOCK keeps a FIFO in its place from blocking the
// open; it changes nothing for the regular file that is expected.
Descriptor openOrCreate(const fs::path& file, int flags, const char* what, bool& created) {
    flags |= O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    for (int attempt = 0; attempt < 16; ++attempt) {
        Descriptor fresh{::open(file.c_str(), flags | O_CREAT | O_EXCL, 0600)};
        if (fresh.isOpen()) {
            created = true;
            return fresh;
        }
        if (errno != EEXIST) {
            throw failure(what, file, errno);
        }
        Descriptor existing{::open(file.c_str(), flags)};
        if (existing.isOpen()) {
            created = false;
            return existing;
        }
        if (errno != ENOENT) {
            throw failure(what, file, errno);
        }
        // Removed between the two opens: create it after all.
    }
    throw failure(what, file, ENOENT);
}

// Eight hex digits from the kernel's generator: fork-safe, unlike a seeded engine.
std::string uniqueTag() {
    static std::atomic<std::uint32_t> fallback{0};
    std::uint32_t value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
        value = static_cast<std::uint32_t>(::getpid()) * 2654435761u + fallback++;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08" PRIx32, value);
    return text;
}

bool isTemporaryOf(std::string_view candidate, std::string_view name) {
    // "<name>.<8 hex digits>.part", or "<name>.part" from before names were unique.
    if (!candidate.starts_with(name) || !candidate.ends_with(".part")) {
        return false;
    }
    candidate.remove_prefix(name.size());
    candidate.remove_suffix(5);
    if (candidate.empty()) {
        return true;
    }
    return candidate.size() == 9 && candidate.front() == '.' &&
           candidate.find_first_not_of("0123456789abcdef", 1) == std::string_view::npos;
}

// A save killed midway leaves its temporary file; the next save removes it once it is old.
// The age comes from the file system's own times, measured against the file just written.
void removeStale(const fs::path& folder, int dir, const std::string& name, time_t now) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string candidate = it->path().filename().string();
        if (!isTemporaryOf(candidate, name)) {
            continue;
        }
        struct stat info {};
        if (::fstatat(dir, candidate.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
            continue;
        }
        const bool legacy = candidate.size() == name.size() + 5; // no save of ours uses it
        if (legacy || now - info.st_mtim.tv_sec >= staleSeconds) {
            ::unlinkat(dir, candidate.c_str(), 0);
        }
    }
}

} // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.release();
    }
    return *this;
}

Descriptor::~Descriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool Descriptor::close() {
    if (fd_ < 0) {
        return true;
    }
    // Linux frees the descriptor even when close fails, so it is never retried.
    return ::close(release()) == 0;
}

int pollUntil(pollfd* fds, std::size_t count, std::chrono::steady_clock::time_point deadline) {
    return retrying([&] {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return left.count() > 0 ? ::poll(fds, count, static_cast<int>(left.count())) : 0;
    });
}

Descriptor createPrivate(const fs::path& file, Contents contents) {
    constexpr const char* what = "couldn't create";
    bool created = false;
    Descriptor fd =
        openOrCreate(file, O_WRONLY | (contents == Contents::discard ? O_TRUNC : 0), what, created);
    const struct stat info = regularFile(fd, what, file);
    // A new file is 0600 even under a umask that takes the owner's bits; an older file (from a
    // program that did not care, or a copy) stops being readable by others.
    mode_t mode = 0600;
    if (!created) {
        if ((info.st_mode & 077) == 0 || info.st_uid != ::geteuid()) {
            return fd;
        }
        mode = info.st_mode & 0700;
    }
    if (::fchmod(fd.get(), mode) != 0) {
        throw failure("couldn't restrict", file, errno);
    }
    return fd;
}

bool writeNew(const fs::path& file, std::string_view bytes) {
    Descriptor fd{::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)};
    if (!fd.isOpen()) {
        if (errno == EEXIST) {
            return false;
        }
        throw failure("couldn't write", file, errno);
    }
    if (::fchmod(fd.get(), 0600) != 0 || !writeAll(fd.get(), bytes) || !fd.close()) {
        const int code = errno;
        ::unlink(file.c_str());
        throw failure("couldn't write", file, code);
    }
    return true;
}

void appendLine(const fs::path& file, std::string_view lines, mode_t mode,
                std::string_view header) {
    constexpr const char* what = "couldn't append to";
    bool created = false;
    Descriptor fd = openOrCreate(file, O_RDWR | O_APPEND, what, created);
    regularFile(fd, what, file);
    if (created && ::fchmod(fd.get(), mode) != 0) {
        throw failure(what, file, errno);
    }
    // With every appender holding the lock, the size read below is where this write lands, and
    // cutting back to it never takes another writer's line.
    if (retrying([&] { return ::flock(fd.get(), LOCK_EX); }) != 0) {
        throw failure(what, file, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        throw failure(what, file, errno);
    }
    std::string bytes;
    if (info.st_size == 0) {
        bytes = header;
        if (!bytes.empty() && bytes.back() != '\n') {
            bytes += '\n';
        }
    } else {
        char last = '\n';
        const ssize_t count = ::pread(fd.get(), &last, 1, info.st_size - 1);
        if (count < 0) {
            throw failure(what, file, errno);
        }
        // The last line was cut short (a crash, another program): start a line of our own.
        if (count == 1 && last != '\n') {
            bytes += '\n';
        }
    }
    bytes += lines;
    if (bytes.empty() || bytes.back() != '\n') {
        bytes += '\n';
    }
    if (!writeAll(fd.get(), bytes)) {
        const int code = errno;
        // Best effort: when even this fails the error below still says the append failed.
        [[maybe_unused]] const int ignored = ::ftruncate(fd.get(), info.st_size);
        throw failure(what, file, code);
    }
    if (!fd.close()) {
        throw failure(what, file, errno);
    }
}

std::optional<Reader> Reader::openIfPresent(const fs::path& file, Links links) {
    // O_NONBLOCK: a FIFO in the file's place answers the open at once instead of waiting for a
    // writer; the regular-file check below then refuses it.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::refuse ? O_NOFOLLOW : 0);
    Descriptor fd{::open(file.c_str(), flags)};
    if (!fd.isOpen()) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw failure("couldn't read", file, errno);
    }
    const struct stat info = regularFile(fd, "couldn't read", file);
    return Reader(std::move(fd), file,
                  info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0);
}

std::size_t Reader::read(char* into, std::size_t size) {
    const ssize_t count = readSome(fd_.get(), into, size);
    if (count < 0) {
        throw failure("couldn't read", file_, errno);
    }
    return static_cast<std::size_t>(count);
}

std::optional<std::string> readIfPresent(const fs::path& file, std::size_t spare, Links links,
                                         std::size_t limit) {
    auto reader = Reader::openIfPresent(file, links);
    if (!reader) {
        return std::nullopt;
    }
    const auto tooLarge = [&] {
        return FileError("couldn't read " + file.filename().string() + ": too large");
    };
    if (reader->sizeWhenOpened() > limit) {
        throw tooLarge();
    }
    std::string bytes;
    bytes.reserve(reader->sizeWhenOpened() + spare);
    char buffer[65536];
    // A file that grows while it is read is still held to the limit.
    while (const std::size_t count = reader->read(buffer, sizeof buffer)) {
        if (bytes.size() + count > limit) {
            throw tooLarge();
        }
        bytes.append(buffer, count);
    }
    return bytes;
}

void replaceAtomically(const fs::path& file, std::string_view bytes, mode_t mode) {
    constexpr const char* what = "couldn't save";
    const std::string name = file.filename().string();
    if (name.empty()) {
        throw failure(what, file, EISDIR);
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    createFolders(folder);
    const Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (!dir.isOpen()) {
        throw failure(what, file, errno);
    }

    // A name of its own for each save, so two writers of one file never share a temporary
    // file and a stale one never stands in the way.
    std::string temporary;
    Descriptor out;
    for (int attempt = 0; !out.isOpen(); ++attempt) {
        temporary = name + "." + uniqueTag() + ".part";
        out = Descriptor{::openat(dir.get(), temporary.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)};
        if (!out.isOpen() && (errno != EEXIST || attempt == 100)) {
            throw failure(what, file, errno);
        }
    }
    struct stat written {};
    // fchmod because the umask may have taken bits away; fsync so that after a power cut the
    // rename never points at a file whose bytes did not reach the disk.
    if (::fchmod(out.get(), mode) != 0 || !writeAll(out.get(), bytes) || ::fsync(out.get()) != 0 ||
        ::fstat(out.get(), &written) != 0 || !out.close()) {
        const int code = errno;
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        throw failure(what, file, code);
    }
    if (::renameat(dir.get(), temporary.c_str(), dir.get(), name.c_str()) != 0) {
        const int code = errno;
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        throw failure(what, file, code);
    }
    // Makes the rename itself durable. Every reader already sees the new document, so a
    // failure here can no longer be undone and is not reported as a failed save.
    ::fsync(dir.get());
    removeStale(folder, dir.get(), name, written.st_mtim.tv_sec);
}

void createFolders(const fs::path& folder) {
    if (folder.empty()) {
        return;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            throw failure("couldn't create", folder, ENOTDIR);
        }
        return;
    }
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        createFolders(folder.parent_path());
    }
    if (::mkdir(folder.c_str(), 0700) != 0) {
        if (errno == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            return; // made by someone else meanwhile
        }
        throw failure("couldn't create", folder, errno);
    }
    // The umask may have taken even the owner's bits.
    if (::chmod(folder.c_str(), 0700) != 0) {
        throw failure("couldn't create", folder, errno);
    }
}

void createPrivateFolder(const fs::path& folder) {
    createFolders(folder);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        throw failure("couldn't create", folder, errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        throw failure("couldn't use", folder, ENOTDIR);
    }
    if (info.st_uid == ::geteuid() && (info.st_mode & 077) != 0 &&
        ::chmod(folder.c_str(), info.st_mode & 0700) != 0) {
        throw failure("couldn't protect", folder, errno);
    }
}

} // namespace Files
