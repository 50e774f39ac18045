#pragma once

#include "TestSupport.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

// Standard error, taken over while it lives: what the program logged.
class LogCapture {
  public:
    LogCapture() {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int fd = ::open((folder_ / "log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~LogCapture() {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return readAll(folder_ / "log"); }
    bool contains(const std::string& line) const { return text().find(line) != std::string::npos; }

  private:
    TempDir folder_;
    int saved_ = -1;
};
