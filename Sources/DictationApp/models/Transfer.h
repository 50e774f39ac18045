#pragma once

#include <atomic>
#include <functional>
#include <string>

// One HTTP transfer of a file into an open file, resuming with a range request from the bytes
// already in it. Blocking: it runs on a worker thread.
namespace Transfer {

struct Limits {
    long connectSeconds = 30;
    // A transfer that brings no byte for this long counts as interrupted.
    long stallSeconds = 60;
    int redirects = 10;
    // The most the file may hold, resumed bytes included; 0: no bound.
    long long maximumBytes = 0;
};

struct Outcome {
    enum class Kind {
        complete,    // the whole file is in `fd`, from its first byte
        interrupted, // transport trouble or a busy server: try again, the bytes so far stay
        refused,     // the server will not give the file, or sent us somewhere we may not go
        unwritable,  // the file could not be written
        stopped,     // `stop` was set
    };
    Kind kind;
    std::string reason; // a lower-case technical phrase
};

// Fetches `address` into `fd` (a regular file open for writing). `progress` gets
// the whole percent of the file now on disk each time it changes, when the size is known.
// Redirects are followed only to addresses that ModelAddress allows.
Outcome fetch(const std::string& address, int fd, const Limits& limits,
              const std::function<void(int)>& progress, const std::atomic<bool>& stop);

} // namespace Transfer
