#pragma once

#include "FileError.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

// Every write the program makes to a file goes through here: whole writes, private modes,
// atomic replacement and whole-line appends. Failures throw FileError with a short text such
// as "couldn't save notes.json: No space left on device". Reads, writes, waits and locks on
// descriptors anywhere share its one rule for interrupted system calls.
namespace Files {

// An open file descriptor, closed on every path out. Moved, never copied.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor(); // a close error here goes unreported; call close() when it matters

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }

    // Closes now. False (errno set) when the kernel reports an error, for example a delayed
    // write failure; the descriptor is closed either way.
    bool close();

  private:
    int fd_ = -1;
};

// Repeats a system call while it fails with EINTR: a signal arriving meanwhile is no reason
// to give up. Async-signal-safe when `call` is, as are readSome and writeAll.
template <class Call> auto retrying(Call call) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

// Up to `size` bytes: the count, 0 at the end, -1 with errno set.
inline ssize_t readSome(int fd, void* into, std::size_t size) {
    return retrying([&] { return ::read(fd, into, size); });
}

// Writes all of `bytes` through `write` (a test's stand-in for the system call), continuing
// after short writes. False (errno set) when the kernel refuses; part of the bytes may then
// have been written.
template <class Write = ssize_t (*)(int, const void*, std::size_t)>
bool writeAll(int fd, std::string_view bytes, Write write = ::write) {
    while (!bytes.empty()) {
        const ssize_t written = retrying([&] { return write(fd, bytes.data(), bytes.size()); });
        if (written <= 0) {
            if (written == 0) {
                errno = EIO; // nothing taken and no reason given: retrying would spin
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Waits for `fds` until `deadline`, however often signals interrupt the wait: the number of
// ready descriptors, 0 once the deadline has passed, -1 with errno set.
int pollUntil(pollfd* fds, std::size_t count, std::chrono::steady_clock::time_point deadline);

enum class Contents { keep, discard };

// Opens `file` for writing, creating it when missing with mode 0600 whatever the umask. An
// existing file of ours loses any group and other permissions, since the caller keeps private
// things in it. A symbolic link or anything but a regular file is refused. Throws FileError.
Descriptor createPrivate(const std::filesystem::path& file, Contents contents = Contents::keep);

// Creates `file` holding `bytes`, mode 0600. False when something, a link included, is already
// there. Throws FileError and leaves no file behind when the bytes cannot be written.
bool writeNew(const std::filesystem::path& file, std::string_view bytes);

// Appends whole lines in one write (a line feed is added when `lines` lacks the last one),
// after a line feed of its own when the file's last line was cut short. A missing file is
// created with `mode` whatever the umask and starts with `header` lines; an existing file keeps
// its mode. The folder must exist; a symbolic link is refused. When the write fails midway the
// file is cut back to its size before, so a reader never meets half a line. Appenders using
// this take turns through an advisory lock. Throws FileError.
void appendLine(const std::filesystem::path& file, std::string_view lines, mode_t mode = 0600,
                std::string_view header = {});

// Whether a read follows a symbolic link: never for the program's own files (a link there
// could lead to a device, a FIFO or another user's secret); for other programs' files it may.
enum class Links { refuse, follow };

// Far above any file of ours in real use; a file past it is refused rather than read.
inline constexpr std::size_t readLimit = std::size_t(1) << 30;

// A file read a piece at a time, for one too large to hold whole beside what is made of it.
class Reader {
  public:
    // Nothing when there is no file. Only a regular file is opened (a FIFO never blocks the
    // open, a device is refused). Throws FileError on any other failure.
    static std::optional<Reader> openIfPresent(const std::filesystem::path& file,
                                               Links links = Links::refuse);

    // Up to `size` more bytes into `into`; 0 at the end of the file. Throws FileError.
    std::size_t read(char* into, std::size_t size);
    // The file's size when it was opened; it may grow while it is read.
    std::size_t sizeWhenOpened() const { return size_; }

  private:
    Reader(Descriptor fd, std::filesystem::path file, std::size_t size)
        : fd_(std::move(fd)), file_(std::move(file)), size_(size) {}

    Descriptor fd_;
    std::filesystem::path file_;
    std::size_t size_;
};

// The whole file, or nothing when there is no file. Throws FileError on any other failure,
// and for a file of more than `limit` bytes. `spare` bytes of room are kept after the
// contents, so appending that much copies nothing.
std::optional<std::string> readIfPresent(const std::filesystem::path& file, std::size_t spare = 0,
                                         Links links = Links::refuse,
                                         std::size_t limit = readLimit);

// Replaces `file` with `bytes`, so a reader always sees the old or the new document. The bytes
// go to a temporary file of a unique name beside it, are flushed to disk and renamed over the
// target, and the folder is flushed. The document gets `mode` and its folder is created when
// missing; a link at `file` is replaced, not followed. Temporary files that earlier saves of
// this file left behind are removed once they are old. Throws FileError; the document at
// `file` is then left as it was and no temporary file remains.
void replaceAtomically(const std::filesystem::path& file, std::string_view bytes,
                       mode_t mode = 0600);

// Creates `folder` and every missing folder above it with mode 0700 whatever the umask; what
// exists already is left as it is. Throws FileError.
void createFolders(const std::filesystem::path& folder);

// For the program's own folders: creates them like createFolders, and an existing one of ours
// (not a link) loses any group and other permissions, so no other user can replace the files
// in it. Throws FileError.
void createPrivateFolder(const std::filesystem::path& folder);

} // namespace Files
