// Snapshot store save/load against the bare file operations underneath, in one run: the save
// against one durable replace of one file, the load against a read and a plain parse.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include "bench/ratio.h"
#include "model/wire.h"
#include "storage/file_io.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"

using namespace tessel;
using namespace std::chrono;

namespace {

// 20 subscriptions, three periods with 720-point series and 200 models each.
Snapshot realistic() {
    const Instant now = time_point_cast<seconds>(system_clock::now());
    Snapshot s;
    s.updatedAt = s.attemptedAt = s.quotaUpdatedAt = s.usageUpdatedAt = now;
    s.endpoint = "http://127.0.0.1:3425";
    s.version = "1.4.2";
    for (int i = 0; i < 20; ++i) {
        Quota q;
        q.provider = "provider-" + std::to_string(i % 5);
        q.name = "订阅 " + std::to_string(i);
        q.kind = "oauth";
        q.user = "user" + std::to_string(i) + "@example.org";
        q.plan = "pro";
        q.from = "pool";
        q.readAt = now;
        std::vector<QuotaWindow> windows;
        for (const char* name : {"5h", "7d", "premium"}) {
            QuotaWindow w;
            w.name = name;
            w.used = 12.5 + i;
            w.remaining = 87.5 - i;
            w.resetsAt = now + hours(3);
            windows.push_back(w);
        }
        q.windows = windows;
        s.quotas.push_back(q);
    }
    for (const char* period : {"today", "7d", "30d"}) {
        Usage u;
        u.period = period;
        u.since = now - hours(24);
        u.calls = 12345;
        u.input = 9876543;
        u.output = 1234567;
        u.cost = 42.17;
        std::vector<UsagePoint> series;
        for (int i = 0; i < 720; ++i)
            series.push_back(
                {"t" + std::to_string(i), now - minutes(i), 1000 + i, 200 + i, 0.01 * i});
        u.series = series;
        std::vector<UsageGroup> models;
        for (int i = 0; i < 200; ++i)
            models.push_back({"model-" + std::to_string(i), "Model " + std::to_string(i),
                              "provider-" + std::to_string(i % 5), std::nullopt, 10 + i, 1000 * i,
                              300 * i, 0.5 * i});
        u.models = models;
        s.usage[period] = u;
    }
    return s;
}

const Snapshot& snapshot() {
    static const Snapshot s = realistic();
    return s;
}

// Both files exist, as after the second save of a running application.
void Store_Save(benchmark::State& state) {
    test::TempDir dir;
    SnapshotStore store(dir.path());
    store.save(snapshot());
    store.save(snapshot());
    for (auto _ : state)
        store.save(snapshot());
}

// The floor under save(): the same bytes made durable in one file, the least a crash-safe
// replace can do (write, fsync, rename, fsync of the directory).
void Bare_DurableReplace(benchmark::State& state) {
    test::TempDir dir;
    const std::string bytes = Wire::encode(snapshot());
    const auto target = dir.path() / "snapshot.json";
    const auto temporary = dir.path() / "snapshot.json.tmp";
    for (auto _ : state) {
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        benchmark::DoNotOptimize(::write(fd, bytes.data(), bytes.size()));
        ::fsync(fd);
        ::close(fd);
        std::rename(temporary.c_str(), target.c_str());
        const int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(directory);
        ::close(directory);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void Store_Load(benchmark::State& state) {
    test::TempDir dir;
    SnapshotStore store(dir.path());
    store.save(snapshot());
    for (auto _ : state)
        benchmark::DoNotOptimize(store.load());
}

// The floor under load(): the same file read whole and parsed by the JSON library.
void Bare_ReadParse(benchmark::State& state) {
    test::TempDir dir;
    SnapshotStore(dir.path()).save(snapshot());
    const auto file = dir.path() / "snapshot.json";
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(FileIO::read(file)));
}

} // namespace

BENCHMARK(Bare_DurableReplace)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Store_Save)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Bare_ReadParse)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Store_Load)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv) {
    return tessel::bench::runWithRatios(
        argc, argv,
        {{"save / durable replace of one file", "Store_Save/real_time",
          "Bare_DurableReplace/real_time"},
         {"load / read and plain parse", "Store_Load/real_time", "Bare_ReadParse/real_time"}});
}
