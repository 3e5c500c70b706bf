// Snapshot store save/load against the bare file operations underneath, in interleaved pairs at
// 1x, 10x and 100x the realistic data: the save against one durable replace of one file (wall
// clock: waiting for the disk is the work), the load against reading the file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include "bench/pairs.h"
#include "bench/ratio.h"
#include "model/wire.h"
#include "storage/file_io.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"

using namespace tessel;

namespace {

const Snapshot& snapshot(int scale) {
    static std::map<int, Snapshot> snapshots;
    auto found = snapshots.find(scale);
    if (found == snapshots.end())
        found = snapshots.emplace(scale, bench::realisticSnapshot(scale)).first;
    return found->second;
}

// The least a crash-safe replace can do: write, fsync, rename, fsync of the directory.
void durableReplace(const std::filesystem::path& dir, const std::string& bytes) {
    const auto target = dir / "bare.json";
    const auto temporary = dir / "bare.json.tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    benchmark::DoNotOptimize(::write(fd, bytes.data(), bytes.size()));
    ::fsync(fd);
    ::close(fd);
    std::rename(temporary.c_str(), target.c_str());
    const int directory = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(directory);
    ::close(directory);
}

// Both files exist, as after the second save of a running application.
void Store_Save(benchmark::State& state) {
    test::TempDir dir;
    const Snapshot& s = snapshot(static_cast<int>(state.range(0)));
    const std::string bytes = Wire::encode(s);
    SnapshotStore store(dir.path());
    store.save(s);
    store.save(s);
    bench::interleaved(
        state, [&] { durableReplace(dir.path(), bytes); }, [&] { store.save(s); },
        bench::Clock::Wall);
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

// The floor of a save: the encoding and one durable replace, against the replace alone.
void Store_EncodeAndReplace(benchmark::State& state) {
    test::TempDir dir;
    const Snapshot& s = snapshot(static_cast<int>(state.range(0)));
    const std::string bytes = Wire::encode(s);
    bench::interleaved(
        state, [&] { durableReplace(dir.path(), bytes); },
        [&] { durableReplace(dir.path(), Wire::encode(s)); }, bench::Clock::Wall);
}

void Store_Load(benchmark::State& state) {
    test::TempDir dir;
    SnapshotStore store(dir.path());
    store.save(snapshot(static_cast<int>(state.range(0))));
    const auto file = dir.path() / "snapshot.json";
    bench::interleaved(
        state, [&] { benchmark::DoNotOptimize(FileIO::read(file)); },
        [&] { benchmark::DoNotOptimize(store.load()); });
}

} // namespace

BENCHMARK(Store_Save)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(Store_EncodeAndReplace)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(Store_Load)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);

int main(int argc, char** argv) {
    return tessel::bench::runWithRatios(argc, argv);
}
