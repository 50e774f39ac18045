#pragma once

#include "ScreenContext.h"
#include "Snippets.h"
#include "WritingContext.h"
#include "WritingStyle.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The road from what the speech engine heard to the text that is typed, with every stage kept
// so that a caller can show why the result looks as it does.
namespace CleanupPipeline {

// The formatting half, which runs for every dictation into an ordinary field, raw mode too.
struct Formatted {
    std::string laidOut; // spoken commands, lists and layout for the kind of app
    std::string styled;  // the user's writing style for the app's group
    std::string final;   // snippets expanded, their text exactly as stored

    bool operator==(const Formatted&) const = default;
};
Formatted format(std::string_view text, WritingContext writing, WritingStyle style,
                 const std::vector<Snippet>& snippets);

struct Stages {
    std::string heard;    // the transcript on one line
    bool isEmpty = false; // nothing was heard: no stage below ran and their values mean nothing
    WritingContext writing = WritingContext::other;
    AppGroup group = AppGroup::other;
    bool cleaned = false;          // the cleanup stage ran (enabled, and enough words)
    std::string chosen;            // the correction guard's choice when cleaned, else heard
    bool usedModel = false;        // the on-device edit was chosen
    bool refusedCandidate = false; // there was an on-device edit and it changed the words
    std::string stripped;          // without fillers and stutters when cleaned, else chosen
    std::string laidOut;           // for a secure field every formatting stage is `stripped`
    std::string styled;
    std::string final;

    bool operator==(const Stages&) const = default;
};

// The on-device edit of the transcript as heard; asked only when the cleanup stage runs.
using Edit = std::function<std::optional<std::string>(const std::string& heard)>;
// An edit known beforehand, or none.
Edit fixed(std::optional<std::string> candidate);

// The cleanup stage alone: `heard` through `stripped`, without the app's context and formatting
// (their fields stay at their defaults).
Stages clean(std::string_view transcript, bool cleanup, const Edit& edit);

// `transcript` as the speech engine returned it; `style` is the user's style for the group of
// `context`'s app. A `plain` text (a password field, terminal mode) is typed as cleaned, with no
// formatting stage.
Stages run(std::string_view transcript, const ScreenContext& context, bool cleanup, bool plain,
           WritingStyle style, const std::vector<Snippet>& snippets, const Edit& edit);

} // namespace CleanupPipeline
