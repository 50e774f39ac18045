#pragma once

#include "desktop/Clipboard.h"
#include "desktop/FocusProbe.h"
#include "desktop/KeySynthesizer.h"
#include "desktop/WindowProbe.h"
#include "dictation/Terminals.h"
#include "dictation/TextInserter.h"
#include "platform/MainThread.h"
#include "platform/Scheduler.h"

#include <memory>
#include <string>
#include <vector>

// Puts text into the focused field of the active window: through the clipboard and the paste
// chord, checked for arrival and typed when it did not arrive, and with the user's clipboard
// put back afterwards. Main thread only; `paste` returns at once and the rest happens on later
// turns of the main loop.
class Paster final : public TextInserter {
  public:
    // Seconds after the chord at which the field is compared with its state before.
    static constexpr double checkDelays[] = {0.3, 0.8};
    // The user's clipboard comes back no earlier than this after the chord, and only once
    // the target has fetched our text...
    static constexpr double restoreAfter = 0.5;
    // ...or at this limit when no program ever asks for it.
    static constexpr double restoreLimit = 2.0;
    // While the user still holds a modifier (perhaps the record key, for the next dictation),
    // the chord waits, asking this often, at most this long.
    static constexpr double modifierPoll = 0.025;
    static constexpr double modifierWaitLimit = 30.0;

    Paster(Clipboard& clipboard, KeySynthesizer& keys, FocusProbe& focus, WindowProbe& windows,
           Scheduler& scheduler);
    Paster(const Paster&) = delete;
    Paster& operator=(const Paster&) = delete;

    // `isSecure`: a password field, typed key by key and never put on the clipboard; when it
    // cannot be typed it is not inserted at all.
    void paste(const std::string& text, bool isSecure) override;

  private:
    struct Job;
    using JobPtr = std::shared_ptr<Job>;

    void sendChord(const JobPtr& job);
    void chordSent(const JobPtr& job);
    void check(const JobPtr& job, std::size_t next);
    void typeText(const JobPtr& job, const char* because);
    void fetched(std::uint64_t write);
    void restore(const JobPtr& job);
    void settle(const JobPtr& job);
    // Runs `work` later unless this paster is gone by then.
    void later(double seconds, std::function<void()> work);

    Clipboard& clipboard_;
    KeySynthesizer& keys_;
    FocusProbe& focus_;
    WindowProbe& windows_;
    Scheduler& scheduler_;
    // Pastes whose clipboard has not been put back yet.
    std::vector<JobPtr> pending_;
    Inbox inbox_;
};
