// Each formatting pass on a dictation of N, 10 N and 100 N words: ten times the words must cost
// at most fifteen times the time, so no pass is quadratic in the text. Between N and 10 N the
// search buffers outgrow what malloc keeps on its heap, so part of that step is page faults.
#include "Disfluency.h"
#include "EmailLayout.h"
#include "Layout.h"
#include "Lists.h"
#include "Paragraphs.h"
#include "SpokenCommands.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

// Sentences of the kind people dictate, with something for every pass to do in each stretch.
std::string dictation(std::size_t words) {
    static const std::vector<std::string> sentences = {
        "hi Sarah, um, thanks for sending the deck yesterday.",
        "I think I think the timeline looks tight, uh, but doable.",
        "here is the plan: first, book the venue, second, send the invites, and third, order "
        "the food.",
        "after that we relax new paragraph also, the budget slide needs an update.",
        "we should meet at 9 a.m. then lunch e.g. at the usual place.",
        "run back tick npm install back tick now and, like, check the output.",
        "number one apples, number two pears, bullet point eggs.",
        "by the way the new line of products ships next week new line okay.",
        "can we talk on Friday? best regards, Tom",
    };
    std::string text;
    std::size_t count = 0;
    for (std::size_t i = 0; count < words; ++i) {
        const std::string& sentence = sentences[i % sentences.size()];
        text += sentence;
        text += ' ';
        for (char c : sentence) {
            count += c == ' ' ? 1 : 0;
        }
        ++count;
    }
    return text;
}

template <typename Pass> void run(benchmark::State& state, Pass pass) {
    const std::string text = dictation(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(pass(text));
    }
    state.SetComplexityN(state.range(0));
}

void disfluency(benchmark::State& state) {
    run(state, Disfluency::strip);
}
void spokenCommands(benchmark::State& state) {
    run(state, SpokenCommands::apply);
}
void lists(benchmark::State& state) {
    run(state, Lists::apply);
}
void paragraphs(benchmark::State& state) {
    run(state, [](std::string_view t) { return Paragraphs::apply(t, std::nullopt); });
}
void emailLayout(benchmark::State& state) {
    run(state, EmailLayout::apply);
}
void tidy(benchmark::State& state) {
    run(state, [](std::string_view t) { return Layout::tidy(t, true, true); });
}
void layoutEmail(benchmark::State& state) {
    run(state, [](std::string_view t) { return Layout::format(t, WritingContext::email); });
}
void layoutDocument(benchmark::State& state) {
    run(state, [](std::string_view t) { return Layout::format(t, WritingContext::document); });
}
void layoutChat(benchmark::State& state) {
    run(state, [](std::string_view t) { return Layout::format(t, WritingContext::chat); });
}

constexpr int n = 1'000;

} // namespace

BENCHMARK(disfluency)
    ->Arg(n)
    ->Arg(10 * n)
    ->Arg(100 * n)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(spokenCommands)
    ->Arg(n)
    ->Arg(10 * n)
    ->Arg(100 * n)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(lists)->Arg(n)->Arg(10 * n)->Arg(100 * n)->Complexity()->Unit(benchmark::kMicrosecond);
BENCHMARK(paragraphs)
    ->Arg(n)
    ->Arg(10 * n)
    ->Arg(100 * n)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(emailLayout)
    ->Arg(n)
    ->Arg(10 * n)
    ->Arg(100 * n)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(tidy)->Arg(n)->Arg(10 * n)->Arg(100 * n)->Complexity()->Unit(benchmark::kMicrosecond);
BENCHMARK(layoutEmail)
    ->Arg(n)
    ->Arg(10 * n)
    ->Arg(100 * n)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(layoutDocument)
    ->Arg(n)
    ->Arg(10 * n)
    ->Arg(100 * n)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(layoutChat)
    ->Arg(n)
    ->Arg(10 * n)
    ->Arg(100 * n)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
