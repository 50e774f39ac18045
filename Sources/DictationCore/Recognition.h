#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string_view>

// The rules for asking the speech engine: how much of the encoder a clip needs, when a
// transcript is a decoding loop rather than speech, and how long a request may take on this
// computer.
namespace Recognition {

// The encoder sees 50 frames a second and at most 1500 (a 30 s window).
inline constexpr int framesPerSecond = 50;
inline constexpr int fullContext = 1500;
// Room after the clip's last frame: whisper ends a segment on a timestamp just past the speech,
// and a context cut right at the end drops the last word.
inline constexpr int marginFrames = 64;
// Below about 5 s of context the decoder loops and invents far more often; short clips cost
// little at this size anyway.
inline constexpr int floorFrames = 256;
// A cut context this long or longer saves little, and whisper's own padding to 30 s is the
// safer choice.
inline constexpr int nearlyFullFrames = 1400;

// The encoder context for a clip of `seconds`: its frames plus the margin, rounded up to a
// multiple of 8, at least the floor; 0 (the full context) for clips near or past 30 s.
int contextFor(double seconds);

// The decoding thresholds sent with every request: a temperature fallback when the text turns
// repetitive (entropy) or unlikely (log-probability), and no text for a window that is most
// likely not speech.
inline constexpr std::string_view entropyThreshold = "2.8";
inline constexpr std::string_view logProbabilityThreshold = "-1.25";
inline constexpr std::string_view noSpeechThreshold = "0.6";

// More words than `seconds` of audio could hold at any speaking rate (fast speech is about
// 5 words a second).
inline constexpr double maxWordsPerSecond = 7.0;

// A transcript that repeats itself: the same run of one to eight words three or more times in
// a row (a single word five times), or more words than the audio could hold. Case and the
// punctuation around words are ignored.
bool repeatsItself(std::string_view transcript, double seconds);

// How fast the engine answers on this computer, learnt from the requests it finished: the
// time per encoder frame of the last few. Everything is a plain value; the caller measures.
class EngineSpeed {
  public:
    using Milliseconds = std::chrono::milliseconds;

    // Requests wait at least this long: a busy machine may stall for seconds.
    static constexpr Milliseconds floorLimit{30'000};
    // And never longer than this, measured or not: past it the engine hangs.
    static constexpr Milliseconds ceilingLimit{300'000};
    // A request may take this many times the slowest recent rate (the attention grows faster
    // than the context), plus a fixed allowance for the decoding and the machine.
    static constexpr double limitFactor = 4.0;
    static constexpr Milliseconds allowance{10'000};
    static constexpr std::size_t remembered = 8;

    // A request over `frames` of context (0 = full) answered after `elapsed`.
    void record(int frames, Milliseconds elapsed);

    // The expected time for `frames` of context (0 = full): the median recent rate. None
    // before the first measurement.
    std::optional<Milliseconds> estimate(int frames) const;
    // How long to wait for a request over `frames` before taking the engine for hung.
    Milliseconds limit(int frames) const;

  private:
    std::deque<double> rates_; // milliseconds per frame, newest last
};

} // namespace Recognition
