#pragma once

#include "models/Transfer.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

// Puts one model file into the models folder: fetched into "<name>.part" beside it (resumed from
// what an earlier try left), checked against its digest, flushed and moved under its name, so
// the name only ever holds a whole, checked file. Blocking: it runs on a worker thread and gets
// everything it needs as values.
namespace ModelFetch {

struct Job {
    std::string name;
    std::string address;
    std::string sha256;
    std::filesystem::path folder;
    Transfer::Limits limits;
};

struct Result {
    enum class Kind {
        placed,      // the file is in place (perhaps put there by another copy of the program)
        interrupted, // try again later; `detail` says why
        failed,      // the run ends with `error`
        stopped,
    };
    Kind kind;
    std::string error;    // what the run fails with: "process: <name> did not download correctly"
    std::string detail;   // a technical phrase for the log
    bool damaged = false; // failed: the file came whole but not as it should be, and is gone
};

Result run(const Job& job, const std::function<void(int)>& progress, const std::atomic<bool>& stop);

} // namespace ModelFetch
