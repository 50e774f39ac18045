#pragma once

#include <string>
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
