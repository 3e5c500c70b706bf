// Every figure here is read against a baseline measured in the same run: after the runs, one
// line per ratio of two benchmarks' real times, or of a counter the two report.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tessel::bench {

struct Ratio {
    std::string label;
    std::string measured; // benchmark names as reported, "BM_X/real_time" with UseRealTime
    std::string baseline;
    std::string counter{}; // empty: the real time
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(std::vector<Ratio> ratios) : ratios_(std::move(ratios)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            times_[run.benchmark_name()] = run.GetAdjustedRealTime();
            for (const auto& [name, counter] : run.counters)
                times_[run.benchmark_name() + "#" + name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const Ratio& ratio : ratios_) {
            const std::string suffix = ratio.counter.empty() ? "" : "#" + ratio.counter;
            const auto measured = times_.find(ratio.measured + suffix);
            const auto baseline = times_.find(ratio.baseline + suffix);
            if (measured != times_.end() && baseline != times_.end() && baseline->second > 0)
                std::printf("%s: %.2f\n", ratio.label.c_str(), measured->second / baseline->second);
        }
    }

private:
    std::vector<Ratio> ratios_;
    std::map<std::string, double> times_;
};

inline int runWithRatios(int& argc, char** argv, std::vector<Ratio> ratios) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(std::move(ratios));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace tessel::bench
