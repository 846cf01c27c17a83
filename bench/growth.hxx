// Growth of a benchmark family over sizes that grow four times a step:
// `sizes(argc, argv, first)` gives first, 4 first, ... up to 64 first, or up
// to the largest size the command line asks for (a bare number such as
// 256000, taken off the arguments before Google Benchmark reads them); the
// reporter prints time(4N) / time(N) of each family from the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Each size runs once untimed first, so that every size is timed over a heap
// that has already grown to it: the smallest, timed over several iterations,
// would otherwise be the only one not paying for fresh memory.
inline constexpr double kWarmUp = 1e-3;

inline std::vector<long> sizes(int& argc, char** argv, long first)
{
    long largest = 64 * first;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        const long asked = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || asked <= 0)
            continue;
        largest = asked;
        for (int k = i; k + 1 < argc; ++k)
            argv[k] = argv[k + 1];
        --argc;
        break;
    }
    std::vector<long> out;
    for (long n = first; n <= largest; n *= 4)
        out.push_back(n);
    return out;
}

// The console's lines, then per family the processor time per iteration of
// each size (less disturbed than the wall clock by others sharing the
// machine) and its ratio to the size before.
class GrowthReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations <= 0)
                continue;
            const std::string name = run.benchmark_name();
            const auto slash = name.find('/');
            if (slash == std::string::npos)
                continue;
            m_seconds[name.substr(0, slash)][std::atol(name.c_str() + slash + 1)] =
                run.cpu_accumulated_time / static_cast<double>(run.iterations);
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const auto& [family, bySize] : m_seconds) {
            std::printf("\n%s: time(4N) / time(N)\n", family.c_str());
            double before = 0.0;
            for (const auto& [size, seconds] : bySize) {
                std::printf("  %8ld  %9.3f s", size, seconds);
                if (before > 0.0)
                    std::printf("  %5.2f", seconds / before);
                std::printf("\n");
                before = seconds;
            }
        }
        std::fflush(stdout);
    }

private:
    std::map<std::string, std::map<long, double>> m_seconds;
};

inline int runWithGrowth(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    GrowthReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
