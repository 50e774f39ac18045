#include "models/ModelFetch.h"

#include "FileError.h"
#include "Files.h"
#include "models/FileDigest.h"
#include "platform/AppError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Kind = ModelFetch::Result::Kind;

ModelFetch::Result failed(std::string error, std::string detail = {}) {
    return {Kind::failed, std::move(error), std::move(detail)};
}

std::string systemError(std::string_view what, const fs::path& file, int code) {
    return std::string(what) + " " + file.filename().string() + ": " + std::strerror(code);
}

std::string notDownloaded(const std::string& name) {
    return AppError::process(name + " did not download correctly").description();
}

// Moves without replacing: a file already under the name stays and the move fails.
int moveIntoPlace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without the flag: a hard link also refuses an existing name.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    ::unlink(from.c_str());
    return 0;
}

void flushFolder(const fs::path& folder) {
    const Files::Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.isOpen()) {
        ::fsync(dir.get());
    }
}

} // namespace

ModelFetch::Result ModelFetch::run(const Job& job, const std::function<void(int)>& progress,
                                   const std::atomic<bool>& stop) {
    const fs::path target = job.folder / job.name;
    const fs::path part = job.folder / (job.name + ".part");
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
        return {Kind::placed, {}, {}};
    }

    Files::Descriptor file;
    try {
        Files::createFolders(job.folder);
        file = Files::createPrivate(part);
    } catch (const FileError& error) {
        return failed(error.description());
    }
    // Two copies of the program must not write one file.
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return {Kind::interrupted, {}, "another download of " + job.name + " is under way"};
        }
        return failed(systemError("couldn't lock", part, errno));
    }
    // The other copy may have finished while we waited for the lock.
    if (::lstat(target.c_str(), &existing) == 0) {
        return {Kind::placed, {}, {}};
    }

    const Transfer::Outcome outcome =
        Transfer::fetch(job.address, file.get(), job.limits, progress, stop);
    switch (outcome.kind) {
    case Transfer::Outcome::Kind::complete:
        break;
    case Transfer::Outcome::Kind::interrupted:
        return {Kind::interrupted, {}, outcome.reason};
    case Transfer::Outcome::Kind::stopped:
        return {Kind::stopped, {}, {}};
    case Transfer::Outcome::Kind::refused:
        return failed(notDownloaded(job.name), outcome.reason);
    case Transfer::Outcome::Kind::unwritable:
        return failed("couldn't save " + part.filename().string() + ": " + outcome.reason);
    }

    if (::fsync(file.get()) != 0) {
        return failed(systemError("couldn't save", part, errno));
    }
    std::string digest;
    try {
        digest = FileDigest::sha256(part);
    } catch (const FileError& error) {
        return failed(error.description());
    }
    if (digest != job.sha256) {
        // Nothing of a wrong file stays, so the next start fetches it afresh.
        ::unlink(part.c_str());
        ModelFetch::Result damaged = failed(notDownloaded(job.name), "sha-256 mismatch");
        damaged.damaged = true;
        return damaged;
    }
    if (const int code = moveIntoPlace(part, target); code != 0) {
        if (code == EEXIST) {
            ::unlink(part.c_str()); // the name is taken, so this copy would never be used
        }
        return failed(systemError("couldn't move into place", target, code));
    }
    flushFolder(job.folder);
    return {Kind::placed, {}, {}};
}
