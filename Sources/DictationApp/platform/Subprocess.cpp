#include "platform/Subprocess.h"

#include "Text.h"
#include "platform/AppError.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// Both ends of a pipe, closed on every way out.
struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() {
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe");
        }
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeEnd(int which) {
        if (ends[which] >= 0) {
            ::close(ends[which]);
            ends[which] = -1;
        }
    }
};

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

int exitStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return WTERMSIG(status);
    }
    return status;
}

std::string lowerCaseError(int error) {
    std::string text = std::strerror(error);
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

// Asks politely first; a child that ignores SIGTERM is killed after a short grace.
void terminateAndReap(pid_t pid) {
    ::kill(pid, SIGTERM);
    const auto grace = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > grace) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

std::string run(const std::vector<std::string>& arguments,
                const std::optional<std::string>& stdinText,
                const std::optional<std::filesystem::path>& cwd, double timeoutSeconds) {
    Pipe input, output, errors;

    SpawnActions spawn;
    posix_spawn_file_actions_adddup2(&spawn.actions, input.ends[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions, output.ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions, errors.ends[1], STDERR_FILENO);
    if (cwd) {
        posix_spawn_file_actions_addchdir_np(&spawn.actions, cwd->c_str());
    }

    const std::string name = arguments.empty() ? "command" : arguments.front();
    pid_t pid = 0;
    if (const int error = spawnProgram(pid, arguments, &spawn.actions); error != 0) {
        throw AppError::process(name + " could not be started (" + lowerCaseError(error) + ")");
    }
    input.closeEnd(0);
    output.closeEnd(1);
    errors.closeEnd(1);

    std::string pendingInput = stdinText.value_or("");
    std::size_t inputWritten = 0;
    ::fcntl(input.ends[1], F_SETFL, O_NONBLOCK);
    if (pendingInput.empty()) {
        input.closeEnd(1);
    }

    std::string out, err;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    char buffer[65536];
    while (output.ends[0] >= 0 || errors.ends[0] >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            terminateAndReap(pid);
            throw AppError::process(name + " timed out after " +
                                    std::to_string(static_cast<long long>(timeoutSeconds)) + "s");
        }
        pollfd fds[3] = {
            {output.ends[0], POLLIN, 0}, {errors.ends[0], POLLIN, 0}, {input.ends[1], POLLOUT, 0}};
        if (::poll(fds, 3, static_cast<int>(std::min<long long>(left.count() + 1, 1000))) < 0) {
            if (errno == EINTR) {
                continue;
            }
            terminateAndReap(pid);
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
                (i == 0 ? output : errors).closeEnd(0);
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            const ssize_t count = ::write(input.ends[1], pendingInput.data() + inputWritten,
                                          pendingInput.size() - inputWritten);
            if (count > 0) {
                inputWritten += static_cast<std::size_t>(count);
            }
            // A child that stopped reading (EPIPE) simply gets no more input.
            if (inputWritten == pendingInput.size() ||
                (count < 0 && errno != EAGAIN && errno != EINTR)) {
                input.closeEnd(1);
            }
        }
    }
    input.closeEnd(1);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (const int code = exitStatus(status); code != 0) {
        throw AppError::process(name + " exited " + std::to_string(code) + " (" +
                                std::to_string(err.size()) + " bytes of errors)");
    }
    return Text::trimmed(Text::validUTF8(out));
}

int spawnProgram(pid_t& pid, const std::vector<std::string>& arguments,
                 const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes) {
    if (arguments.empty()) {
        return EINVAL;
    }
    std::vector<std::string> command = arguments;
    std::vector<char*> argv;
    for (auto& argument : command) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    // The program is named directly, so nothing in it is read as an option or an assignment.
    return ::posix_spawnp(&pid, argv[0], actions, attributes, argv.data(), environ);
}
