#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

// A program running beside the test (a daemon, a feeder), with extra environment variables and
// its outputs in a file. Ended (SIGTERM, then SIGKILL) when this goes out of scope.
class BackgroundProcess {
  public:
    BackgroundProcess(const std::vector<std::string>& arguments,
                      const std::vector<std::pair<std::string, std::string>>& environment = {},
                      const std::string& outputFile = "/dev/null",
                      const std::string& inputFile = "/dev/null");
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool isRunning();
    // The wait status of a process that isRunning() found ended; 0 before that.
    int exitStatus() const { return status_; }
    // Sends `signal` and reaps the process; returns its wait status.
    int end(int signal = 15);

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// Whether a process with this id exists (and is not a zombie).
bool processIsAlive(pid_t pid);
// The ids of the processes whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent);
// The program a process runs (its first command-line argument).
std::string commandOf(pid_t pid);
// Polls `condition` every 10 ms until it holds or `seconds` pass.
template <typename Condition> bool eventually(Condition condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
