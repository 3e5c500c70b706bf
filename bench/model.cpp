// Strict record decoding against a plain parse of the same bytes, in one run: the ratio is
// what the typed walk, the checks and the timestamp parsing cost on top of the JSON parser.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include "bench/ratio.h"
#include "model/wire.h"

using namespace tessel;
using namespace std::chrono;

namespace {

const std::string& quotasDocument() {
    static const std::string text = [] {
        const Instant now = time_point_cast<seconds>(system_clock::now());
        std::string out = R"({"data":[)";
        for (int i = 0; i < 3000; ++i) {
            Quota q;
            q.provider = "provider-" + std::to_string(i % 7);
            q.name = "订阅 " + std::to_string(i);
            q.user = "user" + std::to_string(i);
            q.plan = "pro";
            q.readAt = now;
            q.windows = std::vector<QuotaWindow>{
                {.name = "5h", .used = 12.5, .resetsAt = now + hours(2)},
                {.name = "7d", .remaining = 40, .resetsAt = now + hours(90)}};
            out += (i ? "," : "") + Wire::encode(q);
        }
        return out + "]}";
    }();
    return text;
}

const std::string& usageDocument() {
    static const std::string text = [] {
        const Instant now = time_point_cast<seconds>(system_clock::now());
        Usage u{.period = "30d", .since = now - hours(720), .calls = 1, .input = 2, .output = 3};
        u.series.emplace();
        for (int i = 0; i < 10000; ++i)
            u.series->push_back({.label = std::to_string(i),
                                 .time = now - minutes(i),
                                 .input = 1000 + i,
                                 .output = 20 * i,
                                 .cost = 0.001 * i});
        return Wire::encode(u);
    }();
    return text;
}

void Plain_ParseQuotas(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(quotasDocument()));
}
void Wire_DecodeQuotas(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(Wire::decode<QuotaEnvelope>(quotasDocument()));
}
void Plain_ParseUsage(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(usageDocument()));
}
void Wire_DecodeUsage(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(Wire::decode<Usage>(usageDocument()));
}

} // namespace

BENCHMARK(Plain_ParseQuotas)->Unit(benchmark::kMillisecond);
BENCHMARK(Wire_DecodeQuotas)->Unit(benchmark::kMillisecond);
BENCHMARK(Plain_ParseUsage)->Unit(benchmark::kMillisecond);
BENCHMARK(Wire_DecodeUsage)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return tessel::bench::runWithRatios(
        argc, argv,
        {{"decode Quotas / plain parse", "Wire_DecodeQuotas", "Plain_ParseQuotas"},
         {"decode Usage / plain parse", "Wire_DecodeUsage", "Plain_ParseUsage"}});
}
