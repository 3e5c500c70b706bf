// Realistic data at a scale, and a measure taken in interleaved pairs: A B A B, so that what
// the machine does meanwhile falls on both sides alike. The ratio is the median of the pairs'.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "model/snapshot.h"

namespace tessel::bench {

// The middle value (the upper of the two middle ones), 0 for none.
inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// 20 subscriptions with 2-3 windows, the three periods with 720 series points each and 50
// agents and models (50 providers among them); `scale` multiplies the subscriptions and points.
inline Snapshot realisticSnapshot(int scale) {
    using namespace std::chrono;
    const Instant now = time_point_cast<seconds>(sys_days(2026y / 12 / 1) + hours(8));
    Snapshot s;
    s.updatedAt = s.attemptedAt = s.quotaUpdatedAt = s.usageUpdatedAt = now;
    s.endpoint = "http://127.0.0.1:3425";
    s.version = "1.4.2";
    for (int i = 0; i < 20 * scale; ++i) {
        Quota q{.provider = "provider-" + std::to_string(i % 50),
                .name = "订阅 " + std::to_string(i)};
        q.kind = "oauth";
        q.user = "user" + std::to_string(i) + "@example.org";
        q.plan = "pro";
        q.from = "pool";
        q.readAt = now;
        q.windows.emplace();
        for (const char* name : {"5h", "7d", "premium"}) {
            if (q.windows->size() == 2 && i % 2)
                break;
            q.windows->push_back({.name = name,
                                  .used = 12.5 + i % 80,
                                  .remaining = 87.5 - i % 80,
                                  .resetsAt = now + hours(3 + i % 100)});
        }
        s.quotas.push_back(std::move(q));
    }
    // Keyed as the application stores them, named as the gateway sends them.
    for (const auto& [key, period] :
         {std::pair{"today", "today"}, {"week", "7d"}, {"month", "30d"}}) {
        Usage u{.period = period, .since = now - hours(720), .calls = 12345, .input = 9876543};
        u.output = 1234567;
        u.cost = 42.17;
        u.series.emplace();
        for (int i = 0; i < 720 * scale; ++i)
            u.series->push_back({"t" + std::to_string(i), now - minutes(i), 1000 + i % 977,
                                 200 + i % 331, 0.01 * (i % 1000)});
        u.agents.emplace();
        u.models.emplace();
        for (int i = 0; i < 50; ++i) {
            u.agents->push_back({.id = "agent-" + std::to_string(i), .calls = 10 + i});
            u.models->push_back({"model-" + std::to_string(i), "Model " + std::to_string(i),
                                 "provider-" + std::to_string(i), std::nullopt, 10 + i, 1000 * i,
                                 300 * i, 0.5 * i});
        }
        s.usage[key] = std::move(u);
    }
    return s;
}

// Microseconds now: of this thread's processor time (what a loaded machine does not change),
// or of the wall clock (where waiting for the disk is part of the work).
enum class Clock { Processor, Wall };
inline double microseconds(Clock clock) {
    timespec t{};
    clock_gettime(clock == Clock::Processor ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Each iteration is one pair: `baseline` then `measured`, each repeated enough to last about a
// millisecond. Counters: the medians of both sides (microseconds per call) and of the ratios.
template <class Baseline, class Measured>
void interleaved(benchmark::State& state, Baseline baseline, Measured measured,
                 Clock clock = Clock::Processor) {
    auto time = [clock](auto& work, int repeat) {
        const double start = microseconds(clock);
        for (int i = 0; i < repeat; ++i)
            work();
        return (microseconds(clock) - start) / repeat;
    };
    const double once = time(baseline, 1);
    const int repeat = std::clamp(static_cast<int>(1000 / std::max(once, 1e-3)), 1, 10000);
    std::vector<double> a, b, ratio;
    for (auto _ : state) {
        a.push_back(time(baseline, repeat));
        b.push_back(time(measured, repeat));
        ratio.push_back(b.back() / a.back());
    }
    state.counters["baseline_us"] = median(a);
    state.counters["measured_us"] = median(b);
    state.counters["ratio"] = median(ratio);
}

} // namespace tessel::bench
