// Each formatting pass on a dictation of N, 10 N and 100 N words: ten times the words must cost
// at most fifteen times the time, so no pass is quadratic in the text. Between N and 10 N the
// search buffers outgrow what malloc keeps on its heap, so part of that step is page faults.
#include "Disfluency.h"
#include "EmailLayout.h"
#include "Layout.h"
#include "Lists.h"
#include "Paragraphs.h"
#include "RunBenchmarks.h"
#include "SpokenCommands.h"

#include <benchmark/benchmark.h>
#include <functional>
#include <iomanip>
#include <map>
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

using Pass = std::function<std::string(std::string_view)>;

void run(benchmark::State& state, const Pass& pass) {
    const std::string text = dictation(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(pass(text));
    }
    state.SetComplexityN(state.range(0));
}

const std::vector<std::pair<std::string, Pass>>& passes() {
    static const std::vector<std::pair<std::string, Pass>> all = {
        {"disfluency", Disfluency::strip},
        {"spokenCommands", SpokenCommands::apply},
        {"lists", Lists::apply},
        {"paragraphs", [](std::string_view t) { return Paragraphs::apply(t, std::nullopt); }},
        {"emailLayout", EmailLayout::apply},
        {"tidy", [](std::string_view t) { return Layout::tidy(t, true, true); }},
        {"layoutEmail",
         [](std::string_view t) { return Layout::format(t, WritingContext::email); }},
        {"layoutDocument",
         [](std::string_view t) { return Layout::format(t, WritingContext::document); }},
        {"layoutChat", [](std::string_view t) { return Layout::format(t, WritingContext::chat); }},
    };
    return all;
}

constexpr int n = 1'000;
constexpr double allowedGrowth = 15.0;

// The console table, then for each pass how much ten times the words cost (CPU time; the
// median when repetitions are asked for).
class GrowthReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const bool counts = run.run_type == Run::RT_Iteration || run.aggregate_name == "median";
            if (counts && !run.error_occurred) {
                times_[run.run_name.function_name][run.run_name.args] = run.GetAdjustedCPUTime();
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        auto& out = GetOutputStream();
        out << "\nCPU time for ten times the words (at most " << allowedGrowth << "x):\n";
        for (const auto& [name, byWords] : times_) {
            out << "  " << name;
            for (int words = n; byWords.contains(std::to_string(words * 10)); words *= 10) {
                const double growth =
                    byWords.at(std::to_string(words * 10)) / byWords.at(std::to_string(words));
                out << "  " << words << "->" << words * 10 << ": " << std::fixed
                    << std::setprecision(1) << growth << "x"
                    << (growth <= allowedGrowth ? "" : " TOO SLOW");
            }
            out << "\n";
        }
    }

  private:
    std::map<std::string, std::map<std::string, double>> times_;
};

} // namespace

int main(int argc, char** argv) {
    for (const auto& [name, pass] : passes()) {
        benchmark::RegisterBenchmark(name.c_str(), run, pass)
            ->Arg(n)
            ->Arg(10 * n)
            ->Arg(100 * n)
            ->Complexity()
            ->Unit(benchmark::kMicrosecond);
    }
    GrowthReporter reporter;
    return runBenchmarks(argc, argv, {}, &reporter);
}
