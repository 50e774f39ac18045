#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Runs a program directly (no shell, no search path) with extra environment variables and an
// optional working folder and standard input, collecting its exit status and both outputs.
struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;
};

ProcessResult runProcess(const std::vector<std::string>& arguments,
                         const std::vector<std::pair<std::string, std::string>>& environment = {},
                         const std::string& workingFolder = {}, const std::string& input = {});

// A program left running beside the test. Its standard output comes through a pipe, line by
// line; its standard error is the test's. Destruction kills and reaps it if it still runs.
class RunningProcess {
  public:
    explicit RunningProcess(const std::vector<std::string>& arguments);
    ~RunningProcess();
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    // The next line without its line feed; nothing once the output has ended.
    std::optional<std::string> readLine();
    void kill(int signal);
    // Waits for the end; the exit status, or 128 + the signal that ended it.
    int wait();

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    std::optional<int> status_;
};
