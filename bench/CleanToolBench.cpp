// parlwick-clean --jsonl on 3000 mixed dictations, end to end: process start, JSON in and out,
// the whole pipeline per line. Target: under 2 seconds.
#include "Dictations.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// Mostly short and typical dictations, some long ones, across apps, styles and options.
std::string requests(std::size_t count) {
    static const char* apps[] = {"Slack",         "Thunderbird", "LibreOffice Writer",
                                 "Google Chrome", "Code",        "unknown app"};
    static const char* styles[] = {"polished", "relaxed", "lowercase"};
    std::mt19937 random(42);
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t pick = random() % 100;
        const std::size_t words = pick < 20 ? 4 : pick < 85 ? 40 : pick < 98 ? 150 : 750;
        const std::string text = Dictations::of(words);
        std::string line = "{\"text\":" + quoted(text);
        line += ",\"app\":" + quoted(apps[random() % 6]);
        if (random() % 4 == 0) {
            line += ",\"title\":\"Inbox - Gmail\"";
        }
        line += ",\"style\":" + quoted(styles[random() % 3]);
        if (random() % 10 == 0) {
            line += ",\"cleanup\":false";
        }
        if (random() % 20 == 0) {
            line += ",\"secure\":true";
        }
        if (random() % 3 == 0) {
            line += R"(,"snippets":[{"phrase":"my sig","text":"Best, Ann."},)"
                    R"({"phrase":"the room","text":"Room 4.01"}])";
        }
        if (random() % 5 == 0) {
            line += ",\"candidate\":" + quoted(random() % 2 ? text : "Sure, here you go.");
        }
        lines += line + "}\n";
    }
    return lines;
}

double childCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int runTool(const std::string& input) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int in = ::open(input.c_str(), O_RDONLY);
        const int out = ::open("/dev/null", O_WRONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::execl(PARLWICK_CLEAN, PARLWICK_CLEAN, "--jsonl", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void jsonLines(benchmark::State& state) {
    const auto input = std::filesystem::temp_directory_path() / "parlwick-clean-bench.jsonl";
    std::ofstream(input) << requests(static_cast<std::size_t>(state.range(0)));
    double childSeconds = 0;
    for (auto _ : state) {
        const double before = childCpuSeconds();
        if (runTool(input.string()) != 0) {
            state.SkipWithError("parlwick-clean failed");
            break;
        }
        childSeconds += childCpuSeconds() - before;
    }
    // The tool's own processor time, which the CPU column (this process) leaves out.
    state.counters["toolCpuSeconds"] =
        benchmark::Counter(childSeconds, benchmark::Counter::kAvgIterations);
    std::filesystem::remove(input);
}
BENCHMARK(jsonLines)->Arg(3000)->Iterations(1)->Repetitions(5)->UseRealTime()->Unit(
    benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
