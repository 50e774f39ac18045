#include "ProcessRunner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string slurp(const std::string& file) {
    std::string text;
    if (FILE* in = std::fopen(file.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
            text.append(buffer, n);
        }
        std::fclose(in);
    }
    return text;
}

// Replaces the (forked) process with the program; exits 127 when it cannot be started.
[[noreturn]] void execute(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& arguments,
                         const std::vector<std::pair<std::string, std::string>>& environment,
                         const std::string& workingFolder, const std::string& input) {
    // Outputs go to files, so no pipe can fill up while the child runs.
    char folder[] = "/tmp/parlwick-run-XXXXXX";
    if (!::mkdtemp(folder)) {
        throw std::runtime_error("mkdtemp failed");
    }
    const std::string outFile = std::string(folder) + "/out",
                      errFile = std::string(folder) + "/err", inFile = std::string(folder) + "/in";
    if (FILE* in = std::fopen(inFile.c_str(), "wb")) {
        std::fwrite(input.data(), 1, input.size(), in);
        std::fclose(in);
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open(inFile.c_str(), O_RDONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        for (const auto& [name, value] : environment) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0) {
            ::_exit(126);
        }
        execute(arguments);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ProcessResult result{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                         slurp(outFile), slurp(errFile)};
    std::filesystem::remove_all(folder);
    return result;
}

RunningProcess::RunningProcess(const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        ::dup2(pipeEnds[1], 1);
        execute(arguments);
    }
    ::close(pipeEnds[1]);
    out_ = pipeEnds[0];
}

RunningProcess::~RunningProcess() {
    if (!status_) {
        kill(SIGKILL);
        wait();
    }
    if (out_ >= 0) {
        ::close(out_);
    }
}

std::optional<std::string> RunningProcess::readLine() {
    for (;;) {
        if (const auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        char buffer[4096];
        const ssize_t count = ::read(out_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<std::size_t>(count));
    }
}

void RunningProcess::kill(int signal) {
    if (!status_) {
        ::kill(pid_, signal);
    }
}

int RunningProcess::wait() {
    if (!status_) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return *status_;
}
