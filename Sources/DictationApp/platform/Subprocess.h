#pragma once

#include <filesystem>
#include <optional>
#include <spawn.h>
#include <string>
#include <vector>

// Runs the program named by the first argument, looked up on the search path when the name has
// no slash, with the rest as its arguments. Returns its standard output as valid UTF-8, trimmed
// at both ends. Both output pipes are drained together, so a child that writes megabytes to
// either never blocks.
//
// The child leads a process group of its own, and the time limit covers its exit as well as its
// output. On a time-out the whole group gets SIGTERM, and SIGKILL for whatever is still running
// two seconds later. The result is the child's alone: once it exits, what it left running in its
// group (a background job still holding the pipes, say) is ended the same way, and its output
// from then on is dropped.
//
// Throws AppError::process for a program that cannot be started, a time-out or a non-zero exit,
// and std::system_error when the pipes fail.
std::string run(const std::vector<std::string>& arguments,
                const std::optional<std::string>& stdinText = std::nullopt,
                const std::optional<std::filesystem::path>& cwd = std::nullopt,
                double timeoutSeconds = 30);

// Starts the program named by the first argument, found as `run` finds it, with the given file
// actions and attributes (either may be null) and environment (null: this process's). Returns 0
// and sets `pid`, or the error posix_spawnp gave (EINVAL for no arguments).
int spawnProgram(pid_t& pid, const std::vector<std::string>& arguments,
                 const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attributes = nullptr, char* const* environment = nullptr);
