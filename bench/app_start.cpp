// Start-up of TesselWidget (until the tray host shows its icon or, without a tray host, the
// dashboard is shown) and its resident memory then, against a minimal Qt Widgets program that
// shows a tray icon and nothing else (bench_baseline tray), in interleaved pairs, with a loopback
// gateway answering with the realistic data configured.
// scripts/bench-start runs it under Xvfb with a real tray host; alone it runs offscreen.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "bench/pairs.h"
#include "bench/realistic_gateway.h"
#include "ready_program.h"
#include "support/temp_dir.h"
#include "sync/settings.h"

namespace {

using tessel::bench::median;

struct Start {
    double seconds = 0;
    double rssKiB = 0;
    bool ok = false;
};

// Starts the program, waits for its "ready" line, reads its memory and ends it.
Start run(const std::string& program, const char* argument) {
    tessel::bench::Started started = tessel::bench::start(program, argument);
    Start result;
    result.seconds = started.seconds;
    result.ok = started.ready;
    if (started.pid > 0) {
        // Memory once the start has settled (the first sync cycle runs beside the event loop),
        // outside the timed part.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        result.rssKiB = tessel::bench::statusField(
            "/proc/" + std::to_string(started.pid) + "/status", "VmRSS:");
    }
    tessel::bench::stop(started, SIGKILL);
    return result;
}

// One start in fresh private directories, so nothing stored changes what is measured, with the
// endpoint set to a loopback gateway answering with the realistic data, so the first cycle the
// start runs beside is a real one.
Start freshStart(const std::string& program, const char* argument) {
    tessel::test::TempDir dir;
    tessel::bench::useDirectories(dir.path().string());
    tessel::Settings(tessel::AppSettings::defaultPath(), tessel::Settings::Follow::none)
        .set(tessel::AppSettings::endpoint,
             QString::fromStdString(tessel::bench::realisticGateway(1).endpoint()));
    return run(program, argument);
}

// Each iteration is one pair, the baseline's start then the application's, so that what the
// machine does meanwhile falls on both sides alike; counters are the medians.
void BM_StartVsTrayProgram(benchmark::State& state) {
    std::vector<double> a, b, time, rssA, rssB, rss, rssStack, toStack;
    for (auto _ : state) {
        const Start base = freshStart(TESSEL_BENCH_BASELINE, "tray");
        const Start app = freshStart(TESSELWIDGET, nullptr);
        const Start stack = freshStart(TESSEL_BENCH_BASELINE_STACK, "tray");
        if (!base.ok || !app.ok || !stack.ok) {
            state.SkipWithError("no ready line");
            break;
        }
        a.push_back(base.seconds * 1e3);
        b.push_back(app.seconds * 1e3);
        time.push_back(app.seconds / base.seconds);
        rssA.push_back(base.rssKiB);
        rssB.push_back(app.rssKiB);
        rss.push_back(app.rssKiB / base.rssKiB);
        rssStack.push_back(stack.rssKiB);
        toStack.push_back(app.rssKiB / stack.rssKiB);
    }
    state.counters["baseline_ms"] = median(a);
    state.counters["start_ms"] = median(b);
    state.counters["time_ratio"] = median(time);
    state.counters["baseline_KiB"] = median(rssA);
    state.counters["rss_KiB"] = median(rssB);
    state.counters["rss_ratio"] = median(rss);
    // The same tray program on the HTTP client and keyring libraries the application is built
    // on: the floor those libraries set.
    state.counters["stack_baseline_KiB"] = median(rssStack);
    state.counters["rss_ratio_to_stack"] = median(toStack);
    // How many of the application's starts reached the gateway before they were ended.
    state.counters["quotas_fetched"] =
        double(tessel::bench::realisticGateway(1).requestCount("v1/tessel/quotas"));
}
BENCHMARK(BM_StartVsTrayProgram)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    return tessel::bench::benchmarkMain(argc, argv);
}
