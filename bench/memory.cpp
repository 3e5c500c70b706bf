// Memory of one very large quotas answer (30 MiB, about 113 000 subscriptions): the peak above
// the idle process while it is decoded (and, in the cycle, stored and read back), as a
// multiple of the body, and the resident size after the next ordinary decode against idle.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "model/snapshot.h"
#include "model/wire.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"

using namespace tessel;

namespace {

constexpr std::size_t bodySize = 30u << 20;

double statusMiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return 0;
}
double residentMiB() {
    return statusMiB("VmRSS:");
}
// Peak resident size since the last reset.
double peakMiB() {
    return statusMiB("VmHWM:");
}
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string quotasAnswer(std::size_t size) {
    std::string out;
    out.reserve(size + 1024);
    out += R"({"data":[)";
    for (int i = 0; out.size() < size; ++i) {
        const std::string n = std::to_string(i);
        out += (i ? ",{" : "{");
        out += R"("provider":"provider-)" + std::to_string(i % 7) + R"(","name":"subscription )" +
               n + R"(","kind":"oauth","user":"user)" + n +
               R"(@example.org","plan":"pro","readAt":"2025-03-01T08:00:00Z","windows":[)"
               R"({"name":"5h","used":12.5,"resetsAt":"2025-03-01T10:00:00Z"},)"
               R"({"name":"7d","remaining":40,"resetsAt":"2025-03-05T08:00:00Z"}]})";
    }
    return out + "]}";
}

const std::string ordinary = quotasAnswer(4096);

void report(benchmark::State& state, double idle, double body, double peak) {
    Wire::decode<QuotaEnvelope>(ordinary);
    const double after = residentMiB();
    state.counters["idle_MiB"] = idle;
    state.counters["body_MiB"] = body;
    state.counters["peak_over_idle_per_body"] = (peak - idle) / body;
    state.counters["after_vs_idle_pct"] = 100.0 * (after - idle) / idle;
}

void Memory_Decode(benchmark::State& state) {
    for (auto _ : state) {
        Wire::decode<QuotaEnvelope>(ordinary);
        const double idle = residentMiB();
        double peak = 0, body = 0;
        {
            std::string answer = quotasAnswer(bodySize);
            body = static_cast<double>(answer.size()) / (1 << 20);
            resetPeak();
            const auto quotas = Wire::decode<QuotaEnvelope>(answer);
            state.counters["subscriptions"] = static_cast<double>(quotas.data.size());
            peak = peakMiB();
        }
        report(state, idle, body, peak);
    }
}

// As the application's cycles go: decoded into the snapshot, saved twice (the second save
// checks the former file before keeping it); then, as the widgets do, loaded back.
void Memory_Cycle(benchmark::State& state) {
    test::TempDir dir;
    SnapshotStore store(dir.path());
    for (auto _ : state) {
        Wire::decode<QuotaEnvelope>(ordinary);
        store.save(Snapshot{});
        store.load();
        const double idle = residentMiB();
        double peak = 0, body = 0;
        {
            std::string answer = quotasAnswer(bodySize);
            body = static_cast<double>(answer.size()) / (1 << 20);
            resetPeak();
            {
                Snapshot s;
                s.quotas = std::move(Wire::decode<QuotaEnvelope>(answer).data);
                std::string().swap(answer);
                store.save(s);
                store.save(s);
            }
            benchmark::DoNotOptimize(store.load());
            peak = peakMiB();
        }
        store.save(Snapshot{});
        store.save(Snapshot{});
        store.load();
        report(state, idle, body, peak);
    }
}

} // namespace

BENCHMARK(Memory_Decode)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Memory_Cycle)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
