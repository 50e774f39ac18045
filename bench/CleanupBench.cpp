// The cleanup passes and the whole pipeline. Targets: a typical 40-word dictation in under
// 0.3 ms (median), a 750-word hands-free one in under 5 ms, and for every pass ten times the
// words at most fifteen times the time (compare the /100 and /1000 rows).
#include "CleanupGuard.h"
#include "CleanupPipeline.h"
#include "CorrectionCues.h"
#include "CorrectionGuard.h"
#include "Dictations.h"
#include "SelfCorrection.h"
#include "Snippets.h"
#include "Vocabulary.h"

#include <benchmark/benchmark.h>

namespace {

const std::vector<Snippet>& snippets() {
    static const std::vector<Snippet> list = {
        Snippet::make("my addr", "Ann Smith\n12 Mill Lane\nLeeds"),
        Snippet::make("addr", "12 Mill Lane"),
        Snippet::make("my sig", "Best, Ann."),
        Snippet::make("zoom link", "https://example.com/j/123"),
        Snippet::make("the room", "Room 4.01"),
    };
    return list;
}

const ScreenContext& mail() {
    static const ScreenContext context("Thunderbird");
    return context;
}

void pipeline(benchmark::State& state) {
    const std::string text = Dictations::of(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(CleanupPipeline::run(text, mail(), true, false,
                                                      WritingStyle::polished, snippets(), {}));
    }
    state.SetComplexityN(state.range(0));
}
// The typical dictation and the long hands-free one, with a median over repetitions.
BENCHMARK(pipeline)->Arg(40)->Arg(750)->Repetitions(10)->ReportAggregatesOnly(true)->Unit(
    benchmark::kMicrosecond);

// With an on-device edit to check as well: the guard's search on top of the rules.
void pipelineWithCandidate(benchmark::State& state) {
    const std::string text = Dictations::of(static_cast<std::size_t>(state.range(0)));
    const std::string candidate = SelfCorrection::resolve(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CleanupPipeline::run(text, mail(), true, false,
                                                      WritingStyle::polished, snippets(),
                                                      CleanupPipeline::fixed(candidate)));
    }
}
BENCHMARK(pipelineWithCandidate)->Arg(40)->Arg(750)->Unit(benchmark::kMicrosecond);

// Growth of each pass: /100 against /1000.
template <typename Pass> void growth(benchmark::State& state, Pass pass) {
    const std::string text = Dictations::of(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(pass(text));
    }
    state.SetComplexityN(state.range(0));
}

void tokens(benchmark::State& state) {
    growth(state, [](const std::string& text) { return Token::split(text); });
}
void cueSearch(benchmark::State& state) {
    growth(state, [](const std::string& text) {
        const auto split = Token::split(text);
        std::size_t found = 0;
        for (std::size_t i = 0; i < split.size(); ++i) {
            found += CueMatch::find(split, i).has_value();
        }
        return found;
    });
}
void selfCorrection(benchmark::State& state) {
    growth(state, SelfCorrection::resolve);
}
void cleanupGuard(benchmark::State& state) {
    growth(state, [](const std::string& text) { return CleanupGuard::isFaithful(text, text); });
}
void correctionGuard(benchmark::State& state) {
    growth(state, [](const std::string& text) {
        return CorrectionGuard::choose(std::optional<std::string>(text), text);
    });
}
void snippetExpansion(benchmark::State& state) {
    growth(state, [](const std::string& text) { return Snippets::expand(text, snippets()); });
}
void wholePipeline(benchmark::State& state) {
    growth(state, [](const std::string& text) {
        return CleanupPipeline::run(text, mail(), true, false, WritingStyle::polished, snippets(),
                                    {});
    });
}
BENCHMARK(tokens)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(cueSearch)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(selfCorrection)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(cleanupGuard)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(correctionGuard)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(snippetExpansion)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(wholePipeline)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Reading a word list of 10 000 and 40 000 terms, as start-up does: a set of folded terms
// makes it linear (a pairwise check took 12 s and over 3 minutes).
void wordList(benchmark::State& state) {
    std::string text;
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        text += (i % 3 == 0 ? "Project " : "project ") + std::to_string(i / 2) + "\n";
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Vocabulary::unique(text));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(wordList)
    ->Arg(10'000)
    ->Arg(40'000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// Dozens of cues in one transcript, with a candidate the guard must search for.
std::string adversarial(std::size_t repeats) {
    std::string text;
    for (std::size_t i = 0; i < repeats; ++i) {
        text += "send the file, no wait, sorry, the folder, scratch that, I mean, no, actually, ";
    }
    return text + "done.";
}
void adversarialChoice(benchmark::State& state) {
    const std::string text = adversarial(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            CorrectionGuard::choose(std::optional<std::string>("done."), text));
    }
}
BENCHMARK(adversarialChoice)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// The guard's search at its limit: four cues, 6561 combinations, 5000 of them compared.
void searchAtItsLimit(benchmark::State& state) {
    std::string raw;
    for (char l : std::string("abcd")) {
        const std::string p(1, l);
        for (int w = 1; w <= 8; ++w) {
            raw += p + "word" + std::to_string(w) + (w == 8 ? ", no wait, " : " ");
        }
        for (int w = 1; w <= 6; ++w) {
            raw += p + "fix" + std::to_string(w) + (w == 6 ? ". " : " ");
        }
    }
    // Plain words after them lengthen every comparison without adding cues.
    for (long w = 0; w < state.range(0); ++w) {
        raw += " plain" + std::to_string(w % 50);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(CorrectionGuard::isFaithfulCorrection("unrelated words", raw));
    }
}
BENCHMARK(searchAtItsLimit)->Arg(0)->Arg(700)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
