#pragma once

#include <string>

// What a side effect on the desktop did: done, not done yet for a passing reason (worth
// trying again), or not done at all.
struct SynthesisResult {
    enum class Kind { ok, retry, failed };

    Kind kind = Kind::ok;
    std::string reason;

    static SynthesisResult ok() { return {}; }
    static SynthesisResult retry(std::string why) { return {Kind::retry, std::move(why)}; }
    static SynthesisResult failed(std::string why) { return {Kind::failed, std::move(why)}; }

    bool isOk() const { return kind == Kind::ok; }
    // "ok", "retry: <reason>" or "failed: <reason>", for the log.
    std::string description() const {
        switch (kind) {
        case Kind::ok:
            return "ok";
        case Kind::retry:
            return "retry: " + reason;
        case Kind::failed:
            break;
        }
        return "failed: " + reason;
    }

    bool operator==(const SynthesisResult&) const = default;
};
