#include "dictation/Paster.h"

#include "platform/Log.h"

#include <algorithm>

struct Paster::Job {
    std::string text;
    bool isSecure = false;
    PasteMethod method = PasteMethod::ctrlV;
    // A window of the paste target; 0 when not known.
    std::uint64_t target = 0;
    // What to put back; nothing when the clipboard could not be read.
    std::optional<ClipboardContents> snapshot;
    std::uint64_t write = 0;
    std::shared_ptr<const FocusedElement> element;
    std::optional<FieldState> before;
    double waited = 0;
    bool restoreDue = false;
    bool settled = false;
};

Paster::Paster(Clipboard& clipboard, KeySynthesizer& keys, FocusProbe& focus, WindowProbe& windows,
               Scheduler& scheduler)
    : clipboard_(clipboard), keys_(keys), focus_(focus), windows_(windows), scheduler_(scheduler) {
    clipboard_.setFetchedHandler([this](std::uint64_t write) { fetched(write); });
}

void Paster::paste(const std::string& text, bool isSecure) {
    if (text.empty()) {
        return;
    }
    if (!keys_.isAvailable()) {
        log("cannot paste: " + keys_.unavailableReason());
        return;
    }
    auto job = std::make_shared<Job>();
    job->text = text;
    job->isSecure = isSecure;
    if (const auto window = windows_.frontmost()) {
        job->method = Terminals::pasteMethod(window->windowClass);
        job->target = window->id;
    }
    // A password is typed, never pasted: clipboard managers and data-control clients record
    // whatever passes through the clipboard, and only some honour the password hint.
    if (job->method == PasteMethod::typing || isSecure) {
        typeText(job, nullptr);
        return;
    }
    if (!clipboard_.isAvailable()) {
        log("clipboard unavailable, typing instead");
        typeText(job, nullptr);
        return;
    }

    // A paste whose restore is still due owns the clipboard now: take over what it would
    // have put back, or the user's clipboard would end up holding the earlier dictation.
    const auto earlier = std::find_if(pending_.begin(), pending_.end(), [&](const JobPtr& j) {
        return !j->settled && clipboard_.holds(j->write);
    });
    if (earlier != pending_.end()) {
        job->snapshot = (*earlier)->snapshot;
        settle(*earlier);
    } else {
        job->snapshot = clipboard_.snapshot();
        if (!job->snapshot) {
            log("clipboard owner did not answer, it will not be restored");
        }
    }
    job->write = clipboard_.writeText(text, job->target);
    pending_.push_back(job);

    if (!isSecure) {
        job->element = focus_.focusedElement();
        if (job->element) {
            job->before = focus_.state(*job->element);
        }
    }
    sendChord(job);
}

void Paster::sendChord(const JobPtr& job) {
    const auto chord =
        job->method == PasteMethod::ctrlShiftV ? PasteChord::ctrlShiftV : PasteChord::ctrlV;
    const SynthesisResult result = keys_.sendPasteChord(chord);
    if (result.kind == SynthesisResult::Kind::retry && job->waited < modifierWaitLimit) {
        job->waited += modifierPoll;
        later(modifierPoll, [this, job] { sendChord(job); });
        return;
    }
    if (!result.isOk()) {
        log("paste not sent: " + result.description());
        // The dictation stays on the clipboard for a paste by hand, unless it is a secret.
        if (job->isSecure) {
            restore(job);
        } else {
            settle(job);
        }
        return;
    }
    chordSent(job);
}

void Paster::chordSent(const JobPtr& job) {
    if (job->before) {
        later(checkDelays[0], [this, job] { check(job, 0); });
    }
    later(restoreAfter, [this, job] {
        job->restoreDue = true;
        if (clipboard_.wasFetched(job->write)) {
            restore(job);
        }
    });
    later(restoreLimit, [this, job] { restore(job); });
}

void Paster::check(const JobPtr& job, std::size_t next) {
    const auto current = focus_.focusedElement();
    if (!current || !current->isSame(*job->element)) {
        return; // the user moved on
    }
    const auto state = focus_.state(*current);
    if (!state || state != job->before) {
        return; // arrived
    }
    // The target took the text: a busy program shows it late, and typing it too would
    // enter it twice.
    if (job->target && clipboard_.wasFetched(job->write)) {
        return;
    }
    if (next + 1 >= std::size(checkDelays)) {
        typeText(job, "paste didn't arrive, typing instead");
        return;
    }
    later(checkDelays[next + 1] - checkDelays[next], [this, job, next] { check(job, next + 1); });
}

void Paster::typeText(const JobPtr& job, const char* because) {
    const SynthesisResult started = keys_.type(job->text, [](SynthesisResult done) {
        if (!done.isOk()) {
            log("typing stopped: " + done.description());
        }
    });
    if (started.kind == SynthesisResult::Kind::retry && job->waited < modifierWaitLimit) {
        job->waited += modifierPoll;
        later(modifierPoll, [this, job, because] { typeText(job, because); });
        return;
    }
    if (because) {
        log(because);
    }
    if (!started.isOk()) {
        // Nothing falls back to the clipboard, least of all a password.
        log(std::string(job->isSecure ? "password not typed: " : "typing not started: ") +
            started.description());
    }
}

void Paster::fetched(std::uint64_t write) {
    // A copy: restoring removes the job from the list.
    const auto jobs = pending_;
    for (const auto& job : jobs) {
        if (job->write == write && job->restoreDue) {
            restore(job);
        }
    }
}

void Paster::restore(const JobPtr& job) {
    if (job->settled) {
        return;
    }
    // Only while the clipboard still holds our text: a newer copy of the user's stays.
    if (clipboard_.holds(job->write)) {
        if (job->snapshot) {
            clipboard_.restore(*job->snapshot);
        } else if (job->isSecure) {
            // Nothing to put back, yet a password must not stay on the clipboard.
            clipboard_.restore(ClipboardContents{});
        }
    }
    settle(job);
}

void Paster::settle(const JobPtr& job) {
    job->settled = true;
    std::erase(pending_, job);
}

void Paster::later(double seconds, std::function<void()> work) {
    scheduler_.after(seconds, inbox_.guard(std::move(work)));
}
