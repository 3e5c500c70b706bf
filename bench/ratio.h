// Every figure here is read against a baseline measured in the same run, in interleaved pairs
// (pairs.h). After the runs, one line per ratio a benchmark reported (a counter named "ratio" or
// ending in "_ratio"), so the figures can be read without the table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tessel::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            for (const auto& [name, counter] : run.counters)
                if (name == "ratio" || name.ends_with("_ratio"))
                    lines_.emplace_back(run.benchmark_name() + " " + name, counter.value);
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [label, value] : lines_)
            std::printf("%s: %.2f\n", label.c_str(), value);
    }

private:
    std::vector<std::pair<std::string, double>> lines_;
};

inline int runWithRatios(int& argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace tessel::bench
