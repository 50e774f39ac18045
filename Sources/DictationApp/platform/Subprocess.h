#pragma once

#include <filesystem>
#include <spawn.h>
#include <optional>
#include <string>
#include <vector>

// Runs a program through /usr/bin/env, so a bare name is found on the search path.
// Returns its standard output as valid UTF-8, trimmed at both ends. Throws AppError::process
// for a time-out (the child is terminated) or a non-zero exit, and std::system_error when the
// program cannot be launched at all. Both output pipes are drained together, so a child that
// writes megabytes to either never blocks.
std::string run(const std::vector<std::string>& arguments,
                const std::optional<std::string>& stdinText = std::nullopt,
                const std::optional<std::filesystem::path>& cwd = std::nullopt,
                double timeoutSeconds = 30);

// Starts `arguments` through /usr/bin/env with the given file actions. Returns 0 and sets `pid`,
// or the error posix_spawn gave.
int spawnThroughEnv(pid_t& pid, const std::vector<std::string>& arguments,
                    const posix_spawn_file_actions_t* actions);
