// Snapshot store save/load against the bare file operations underneath, in interleaved pairs at
// 1x, 10x and 100x the realistic data: the save against one durable replace of one file (wall
// clock: waiting for the disk is the work) and against its floor, the load against reading the
// file; the save's encoding alone against a copy of the text it writes.
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

// The least a save can do: the encoding, handed over in pieces as the store gets it and written
// as it comes (the disk starting on each piece), fsync, the former file's second name (link,
// rename over the backup), the rename, fsync of the directory.
void encodeAndReplaceKeeping(const std::filesystem::path& dir, const Snapshot& s) {
    const auto target = dir / "floor.json";
    const auto temporary = dir / "floor.json.tmp";
    const auto link = dir / "floor.previous.tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    off_t offset = 0;
    Wire::encode(s, [&](std::string_view piece) {
        benchmark::DoNotOptimize(::write(fd, piece.data(), piece.size()));
        ::sync_file_range(fd, offset, off_t(piece.size()), SYNC_FILE_RANGE_WRITE);
        offset += off_t(piece.size());
    });
    ::fsync(fd);
    ::close(fd);
    benchmark::DoNotOptimize(::link(target.c_str(), link.c_str()));
    std::rename(link.c_str(), (dir / "floor.previous.json").c_str());
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

// The floor of a save (the same work, without the store's checks and bookkeeping), against the
// replace alone; and the save against its floor.
void Store_EncodeAndReplace(benchmark::State& state) {
    test::TempDir dir;
    const Snapshot& s = snapshot(static_cast<int>(state.range(0)));
    const std::string bytes = Wire::encode(s);
    encodeAndReplaceKeeping(dir.path(), s);
    bench::interleaved(
        state, [&] { durableReplace(dir.path(), bytes); },
        [&] { encodeAndReplaceKeeping(dir.path(), s); }, bench::Clock::Wall);
}
void Store_SaveVsFloor(benchmark::State& state) {
    test::TempDir dir;
    const Snapshot& s = snapshot(static_cast<int>(state.range(0)));
    SnapshotStore store(dir.path());
    store.save(s);
    store.save(s);
    encodeAndReplaceKeeping(dir.path(), s);
    bench::interleaved(
        state, [&] { encodeAndReplaceKeeping(dir.path(), s); }, [&] { store.save(s); },
        bench::Clock::Wall);
}

// The encoding as the save gets it (in pieces), against copying the same bytes.
void Store_Encode(benchmark::State& state) {
    const Snapshot& s = snapshot(static_cast<int>(state.range(0)));
    const std::string bytes = Wire::encode(s);
    bench::interleaved(
        state, [&] { benchmark::DoNotOptimize(std::string(bytes)); },
        [&] { Wire::encode(s, [](std::string_view piece) { benchmark::DoNotOptimize(piece); }); });
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
BENCHMARK(Store_SaveVsFloor)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(Store_Encode)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);
BENCHMARK(Store_Load)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);

int main(int argc, char** argv) {
    return tessel::bench::runWithRatios(argc, argv);
}
