#pragma once

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// A private folder for one test, removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "parlwick-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        // Tests may take write permission away; give it back so the folder can go.
        for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// How many times `part` stands in `text`, overlaps included.
inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

inline void writeAll(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

inline unsigned modeOf(const std::filesystem::path& file) {
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_mode & 07777;
}

// Root reads and writes through any permission bits, so tests of unreadable files need an
// ordinary user to mean anything.
inline bool permissionsApply() {
    return ::geteuid() != 0;
}

// Root reads and writes whatever the mode bits say. A test that needs an unreadable file makes
// itself an ordinary user (the effective ids only, so it can switch back) for its duration,
// after handing its folders to that user. Create it before any file the test writes.
class OrdinaryUser {
  public:
    static constexpr uid_t nobody = 65534;

    explicit OrdinaryUser(std::initializer_list<std::filesystem::path> folders) {
        if (::geteuid() != 0) {
            active_ = true;
            return;
        }
        std::error_code ignored;
        for (const auto& folder : folders) {
            if (::chown(folder.c_str(), nobody, nobody) != 0) {
                return;
            }
            for (auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored)) {
                if (::lchown(entry.path().c_str(), nobody, nobody) != 0) {
                    return;
                }
            }
        }
        if (::setegid(nobody) != 0) {
            return;
        }
        if (::seteuid(nobody) != 0) {
            (void)::setegid(0);
            return;
        }
        switched_ = active_ = true;
    }
    ~OrdinaryUser() {
        if (switched_) {
            (void)::seteuid(0);
            (void)::setegid(0);
        }
    }
    OrdinaryUser(const OrdinaryUser&) = delete;
    OrdinaryUser& operator=(const OrdinaryUser&) = delete;

    // Whether mode bits now apply to this process.
    bool active() const { return active_; }

  private:
    bool switched_ = false;
    bool active_ = false;
};

// The disk filling up, on demand: while this lives, no file of this process grows past `bytes`
// and a write that would make it larger fails (EFBIG) instead of killing the process.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, before_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit before_{};
    void (*previous_)(int) = SIG_DFL;
};
