// Peak memory of one `tesselctl refresh` with a quotas answer of 2, 10 and 25 MiB and a stored
// snapshot of the same size (left by the previous refresh), above a refresh of the realistic 1x
// data with nothing stored, as a multiple of the quotas body; the two programs run one after
// the other, in interleaved pairs, and their peak is the kernel's (wait4's ru_maxrss).
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/pairs.h"
#include "bench/qt_main.h"
#include "bench/ready_program.h"
#include "bench/realistic_gateway.h"
#include "support/temp_dir.h"
#include "sync/settings.h"

namespace {

using tessel::bench::median;

using namespace tessel;

// The realistic subscriptions, repeated until their answer has `bytes`.
std::string quotasAnswer(std::size_t bytes) {
    const std::vector<Quota> sample = bench::realisticSnapshot(1).quotas;
    const std::size_t each = Wire::encode(QuotaEnvelope{sample}).size() / sample.size();
    QuotaEnvelope envelope;
    envelope.data.reserve(bytes / each + 1);
    for (std::size_t i = 0; envelope.data.size() < bytes / each; ++i) {
        Quota q = sample[i % sample.size()];
        q.name += " " + std::to_string(i);
        envelope.data.push_back(std::move(q));
    }
    return Wire::encode(envelope);
}

// A gateway with the realistic 1x usage beside a quotas answer of about `mebibytes`, and that
// answer; both live as long as the process.
struct Large {
    test::TestGateway* gateway = nullptr;
    std::string body;
};
const Large& largeGateway(int mebibytes) {
    static std::map<int, Large> gateways;
    Large& large = gateways[mebibytes];
    if (!large.gateway) {
        large.gateway = new test::TestGateway;
        large.gateway->serveHello("1.4.2");
        large.body = quotasAnswer(std::size_t(mebibytes) << 20);
        large.gateway->on("v1/tessel/quotas", test::Route::json(large.body));
        bench::serveUsage(*large.gateway, bench::realisticSnapshot(1));
    }
    return large;
}

std::string self;

// Run by this binary started with --peak-of: runs PROGRAM ARGUMENT and prints its peak resident
// size in KiB, or -1 when it failed. A child's peak includes that of the memory it was forked
// from, and an exec keeps the peak of the memory it replaced: the benchmark's own, with every
// answer it serves, would be counted. This process starts small and forks the program.
int peakOf(char** argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, 1);
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    const bool ok = pid > 0 && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0;
    std::printf("%ld\n", ok ? usage.ru_maxrss : -1L);
    return 0;
}

// Run by this binary started with --decode-peak-of: the floor of any refresh, in a process of
// its own as the refresh has: the answer in FILE arriving (read into a buffer with the reader's
// spare bytes) and decoded, given away as the client gives it; prints the peak above what the
// process held before, in KiB.
int decodePeakOf(const char* file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    const auto size = std::size_t(in.tellg());
    in.seekg(0);
    const double before = bench::statusField("/proc/self/status", "VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5"; // resets the peak
    {
        std::string body;
        body.reserve(size + Wire::padding);
        body.resize(size);
        in.read(body.data(), std::streamsize(size));
        benchmark::DoNotOptimize(Wire::decode<QuotaEnvelope>(std::move(body)));
    }
    std::printf("%.0f\n", bench::statusField("/proc/self/status", "VmHWM:") - before);
    return 0;
}

// This binary run with `argv` (after its own name), its standard output as a number, or a
// negative value when it did not succeed.
long runSelf(std::vector<const char*> args) {
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv{self.data()};
    for (const char* arg : args)
        argv.push_back(const_cast<char*>(arg));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[64];
    for (ssize_t n; spawned == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    close(out[0]);
    if (spawned != 0 || waitpid(pid, nullptr, 0) != pid)
        return -1;
    return std::atol(text.c_str());
}

// tesselctl with its own HOME and XDG directories under `root`: its peak resident size in
// KiB, or a negative value when it did not succeed.
long peakKiB(const std::string& root, const char* command) {
    bench::useDirectories(root);
    return runSelf({"--peak-of", TESSELCTL, command});
}

// A private home whose settings point at `endpoint`, with one refresh done.
struct Home {
    explicit Home(const std::string& endpoint) {
        bench::useDirectories(dir.path().string());
        Settings(AppSettings::defaultPath(), Settings::Follow::none)
            .set(AppSettings::endpoint, QString::fromStdString(endpoint));
        ready = peakKiB(dir.path().string(), "refresh") > 0;
    }
    test::TempDir dir;
    bool ready = false;
};

void RefreshPeak(benchmark::State& state) {
    const Large& answer = largeGateway(int(state.range(0)));
    const double body = double(answer.body.size());
    Home large(answer.gateway->endpoint());
    Home idle(bench::realisticGateway(1).endpoint());
    if (!large.ready || !idle.ready) {
        state.SkipWithError("tesselctl refresh failed");
        return;
    }
    const std::string answerFile = (large.dir.path() / "answer.json").string();
    std::ofstream(answerFile, std::ios::binary) << answer.body;
    std::vector<double> ratios, idles, peaks, floors;
    for (auto _ : state) {
        const long a = peakKiB(idle.dir.path().string(), "refresh");
        const long b = peakKiB(large.dir.path().string(), "refresh");
        const long floor = runSelf({"--decode-peak-of", answerFile.c_str()});
        if (a < 0 || b < 0 || floor < 0) {
            state.SkipWithError("tesselctl refresh failed");
            return;
        }
        idles.push_back(double(a) / 1024);
        peaks.push_back(double(b) / 1024);
        ratios.push_back((double(b - a) * 1024) / body);
        floors.push_back(double(floor) * 1024 / body);
    }
    state.counters["body_MiB"] = body / (1 << 20);
    state.counters["idle_MiB"] = median(idles);
    state.counters["peak_MiB"] = median(peaks);
    state.counters["peak_over_idle_per_body_ratio"] = median(ratios);
    state.counters["decode_floor_per_body"] = median(floors);
}
BENCHMARK(RefreshPeak)->Arg(2)->Arg(10)->Arg(25)->Iterations(7)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--peak-of") == 0)
        return peakOf(argv + 2);
    if (argc > 2 && std::strcmp(argv[1], "--decode-peak-of") == 0)
        return decodePeakOf(argv[2]);
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    self = n > 0 ? std::string(path, std::size_t(n)) : std::string(argv[0]);
    return bench::runQtWithRatios<QCoreApplication>(argc, argv);
}
