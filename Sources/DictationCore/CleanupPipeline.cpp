#include "CleanupPipeline.h"

#include "Cleanup.h"
#include "CorrectionGuard.h"
#include "Disfluency.h"
#include "Layout.h"

namespace CleanupPipeline {

Formatted format(std::string_view text, WritingContext writing, WritingStyle style,
                 const std::vector<Snippet>& snippets) {
    Formatted formatted;
    formatted.laidOut = Layout::format(text, writing);
    formatted.styled = WritingStyles::apply(style, formatted.laidOut);
    // Last, so a snippet's text keeps its own capitals and period under any style.
    formatted.final = Snippets::expand(formatted.styled, snippets);
    return formatted;
}

Edit fixed(std::optional<std::string> candidate) {
    return [candidate = std::move(candidate)](const std::string&) { return candidate; };
}

Stages clean(std::string_view transcript, bool cleanup, const Edit& edit) {
    Stages stages;
    stages.heard = Cleanup::normalizeTranscript(transcript);
    stages.isEmpty = Cleanup::isEmptyTranscript(stages.heard);
    if (stages.isEmpty) {
        return stages;
    }
    stages.cleaned = Cleanup::shouldClean(stages.heard, cleanup);
    if (stages.cleaned) {
        const auto candidate = edit ? edit(stages.heard) : std::nullopt;
        // Self-correction reads the transcript as spoken, fillers and commas included.
        auto choice = CorrectionGuard::choose(candidate, stages.heard);
        stages.chosen = std::move(choice.text);
        stages.usedModel = choice.usedModel;
        stages.refusedCandidate = candidate.has_value() && !choice.usedModel;
        stages.stripped = Disfluency::strip(stages.chosen);
    } else {
        stages.chosen = stages.heard;
        stages.stripped = stages.heard;
    }
    return stages;
}

Stages run(std::string_view transcript, const ScreenContext& context, bool cleanup, bool plain,
           WritingStyle style, const std::vector<Snippet>& snippets, const Edit& edit) {
    Stages stages = clean(transcript, cleanup, edit);
    if (stages.isEmpty) {
        return stages;
    }
    stages.writing = context.writing;
    stages.group = AppGroups::of(context.appName, context.writing);

    if (plain) {
        stages.laidOut = stages.styled = stages.final = stages.stripped;
    } else {
        auto formatted = format(stages.stripped, stages.writing, style, snippets);
        stages.laidOut = std::move(formatted.laidOut);
        stages.styled = std::move(formatted.styled);
        stages.final = std::move(formatted.final);
    }
    return stages;
}

} // namespace CleanupPipeline
