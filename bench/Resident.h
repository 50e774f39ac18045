#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/types.h>

// A process's resident set (VmRSS) in kB, from /proc; 0 when it is gone.
inline long residentKilobytes(pid_t pid = 0) {
    std::ifstream status(pid ? "/proc/" + std::to_string(pid) + "/status" : "/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}
