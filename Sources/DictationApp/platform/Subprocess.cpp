#include "platform/Subprocess.h"

#include "Files.h"
#include "Text.h"
#include "platform/AppError.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// How long a group gets between SIGTERM and SIGKILL.
constexpr auto grace = std::chrono::seconds(2);

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

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
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

// Whether a process of the group is still running. Zombies don't count: a member orphaned by
// the child may wait for a parent that never reaps it.
bool groupRuns(pid_t group) {
    if (::killpg(group, 0) != 0) {
        // Gone, or nothing in it this user could end anyway.
        return false;
    }
    DIR* processes = ::opendir("/proc");
    if (!processes) {
        return true;
    }
    bool running = false;
    while (const dirent* entry = ::readdir(processes)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) {
            continue;
        }
        const std::string file = std::string("/proc/") + entry->d_name + "/stat";
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        char text[1024];
        const ssize_t size = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (size <= 0) {
            continue;
        }
        text[size] = '\0';
        // "pid (name) state parent group ...", where the name may hold anything, parentheses too.
        const char* fields = std::strrchr(text, ')');
        char state = 0;
        long member = 0;
        if (fields && std::sscanf(fields + 1, " %c %*d %ld", &state, &member) == 2 &&
            member == group && state != 'Z' && state != 'X' && state != 'x') {
            running = true;
            break;
        }
    }
    ::closedir(processes);
    return running;
}

// The child and the process group it leads. Ending it reaps the child and leaves nothing of
// the group running.
class Group {
  public:
    explicit Group(pid_t leader) : leader_(leader) {
        exitNotice_ = static_cast<int>(::syscall(SYS_pidfd_open, leader, 0));
    }
    ~Group() {
        end();
        if (exitNotice_ >= 0) {
            ::close(exitNotice_);
        }
    }
    Group(const Group&) = delete;
    Group& operator=(const Group&) = delete;

    // Readable once the child has exited; -1 where the kernel has no process descriptors, and
    // the caller polls instead.
    int exitNotice() const { return exitNotice_; }

    // Whether the child has exited. It stays unreaped, so its pid, which is the group's id,
    // cannot be handed to another process meanwhile.
    bool childExited() const {
        if (reaped_) {
            return true;
        }
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(leader_), &info, WEXITED | WNOHANG | WNOWAIT) ==
                   0 &&
               info.si_pid == leader_;
    }

    // The child's wait status; blocks until it exits.
    int status() {
        if (!reaped_) {
            Files::retrying([&] { return ::waitpid(leader_, &status_, 0); });
            reaped_ = true;
        }
        return status_;
    }

    // SIGTERM to every member, SIGKILL for whatever still runs when the grace is over.
    void end() {
        if (ended_) {
            return;
        }
        ended_ = true;
        if (reaped_ && !groupRuns(leader_)) {
            return;
        }
        ::killpg(leader_, SIGTERM);
        // A stopped member handles SIGTERM only once it runs again.
        ::killpg(leader_, SIGCONT);
        const auto until = Clock::now() + grace;
        while (Clock::now() < until) {
            if (childExited()) {
                status();
                if (!groupRuns(leader_)) {
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::killpg(leader_, SIGKILL);
        status();
    }

  private:
    pid_t leader_;
    int exitNotice_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    bool ended_ = false;
};

// Takes what is waiting in the pipe now. Everything the child wrote before it exited is there;
// a member it left behind may go on writing, so no more than that is read.
void takeWaiting(int fd, std::string& into) {
    int waiting = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &waiting) != 0) {
        return;
    }
    char buffer[65536];
    while (waiting > 0) {
        const ssize_t count =
            Files::readSome(fd, buffer, std::min(sizeof buffer, static_cast<std::size_t>(waiting)));
        if (count <= 0) {
            return;
        }
        into.append(buffer, static_cast<std::size_t>(count));
        waiting -= static_cast<int>(count);
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
    // A group of its own, so a time-out reaches whatever the child started.
    SpawnAttributes group;
    posix_spawnattr_setflags(&group.attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&group.attributes, 0);

    const std::string name = arguments.empty() ? "command" : arguments.front();
    pid_t pid = 0;
    if (const int error = spawnProgram(pid, arguments, &spawn.actions, &group.attributes);
        error != 0) {
        throw AppError::process(name + " could not be started (" + lowerCaseError(error) + ")");
    }
    Group child(pid);
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
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    // Without a process descriptor the child's exit is noticed at the next short poll.
    const std::chrono::milliseconds::rep pollLimit = child.exitNotice() >= 0 ? 1000 : 10;
    char buffer[65536];
    while (!child.childExited()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            child.end();
            throw AppError::process(name + " timed out after " +
                                    std::to_string(static_cast<long long>(timeoutSeconds)) + "s");
        }
        pollfd fds[4] = {{output.ends[0], POLLIN, 0},
                         {errors.ends[0], POLLIN, 0},
                         {input.ends[1], POLLOUT, 0},
                         {child.exitNotice(), POLLIN, 0}};
        const std::chrono::milliseconds slice(std::min(left.count() + 1, pollLimit));
        if (Files::pollUntil(fds, 4, Clock::now() + slice) < 0) {
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t count = Files::readSome(fds[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EAGAIN) {
                (i == 0 ? output : errors).closeEnd(0);
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            const ssize_t count = Files::retrying([&] {
                return ::write(input.ends[1], pendingInput.data() + inputWritten,
                               pendingInput.size() - inputWritten);
            });
            if (count > 0) {
                inputWritten += static_cast<std::size_t>(count);
            }
            // A child that stopped reading (EPIPE) simply gets no more input.
            if (inputWritten == pendingInput.size() || (count < 0 && errno != EAGAIN)) {
                input.closeEnd(1);
            }
        }
    }
    takeWaiting(output.ends[0], out);
    takeWaiting(errors.ends[0], err);
    const int status = child.status();
    input.closeEnd(1);
    output.closeEnd(0);
    errors.closeEnd(0);
    child.end();

    if (const int code = exitStatus(status); code != 0) {
        throw AppError::process(name + " exited " + std::to_string(code) + " (" +
                                std::to_string(err.size()) + " bytes of errors)");
    }
    return Text::trimmed(Text::validUTF8(out));
}

int spawnProgram(pid_t& pid, const std::vector<std::string>& arguments,
                 const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes,
                 char* const* environment) {
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
    return ::posix_spawnp(&pid, argv[0], actions, attributes, argv.data(),
                          environment ? environment : environ);
}
