#pragma once

#include <benchmark/benchmark.h>
#include <functional>

// What BENCHMARK_MAIN does, with room for fixtures made once the arguments are known to be good
// and for a reporter of the program's own; the exit status.
inline int runBenchmarks(int& argc, char** argv, const std::function<void()>& prepare = {},
                         benchmark::BenchmarkReporter* reporter = nullptr) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (prepare) {
        prepare();
    }
    benchmark::RunSpecifiedBenchmarks(reporter);
    benchmark::Shutdown();
    return 0;
}
