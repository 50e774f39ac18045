#pragma once

#include <atomic>
#include <string>
#include <variant>

// One small document fetched whole into memory, for the update feed. Every address on the way,
// redirects included, must pass WebAddress. Blocking: it runs on a worker thread.
namespace FeedFetch {

struct Limits {
    long connectSeconds = 15;
    long totalSeconds = 60;
    // A feed lists releases; anything this large is not one.
    long long maxBytes = 1024 * 1024;
    int redirects = 5;
};

// The body of a 2xx answer, or a lower-case technical phrase saying why there is none.
struct Failure {
    std::string reason;
};
using Result = std::variant<std::string, Failure>;

Result fetch(const std::string& address, const Limits& limits, const std::atomic<bool>& stop);

} // namespace FeedFetch
