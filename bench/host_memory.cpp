// The widget host's memory with 1, 5 and 20 placed widgets over the realistic data at 1x, 10x
// and 100x against a minimal Qt Widgets program that shows one frameless window (bench_baseline
// window), in interleaved runs, and the host's wake-ups while it idles between reloads. A second
// baseline (text-window) is the same window drawing a small widget's texts in the same fonts:
// the floor of what drawing Chinese text costs, whatever draws it.
// scripts/bench-host runs it on a real X server (Xvfb).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <string>
#include <thread>
#include <vector>

#include "bench/pairs.h"
#include "host/host_settings.h"
#include "ready_program.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"

namespace {

using tessel::bench::median;

// Context switches of every thread: each one is a wake-up of a thread that slept.
double switches(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR* dir = opendir(tasks.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string status = tasks + "/" + entry->d_name + "/status";
            total += tessel::bench::statusField(status, "voluntary_ctxt_switches:") +
                     tessel::bench::statusField(status, "nonvoluntary_ctxt_switches:");
        }
        closedir(dir);
    }
    return total;
}

struct Run {
    double seconds = 0;
    double rssKiB = 0;
    double wakeupsPerSecond = 0;
    bool ok = false;
};

// Starts the program, waits for its "ready" line, lets it settle (the plug-in lets go of a burst's
// snapshot a second after reading it), then reads its memory and counts its wake-ups over `idle`.
Run run(const std::string& program, const char* argument, std::chrono::milliseconds idle) {
    tessel::bench::Started started = tessel::bench::start(program, argument);
    Run result;
    result.seconds = started.seconds;
    result.ok = started.ready;
    if (started.pid > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        const std::string status = "/proc/" + std::to_string(started.pid) + "/status";
        result.rssKiB = tessel::bench::statusField(status, "VmRSS:");
        const double before = switches(started.pid);
        std::this_thread::sleep_for(idle);
        result.wakeupsPerSecond =
            (switches(started.pid) - before) / std::chrono::duration<double>(idle).count();
    }
    tessel::bench::stop(started, SIGTERM);
    return result;
}

// One start in fresh private directories with `widgets` placed over the data at `scale`; 0
// widgets: the baseline program, -1: the window with the texts. Wake-ups are counted over `idle`.
Run freshRun(int widgets, int scale, std::chrono::milliseconds idle) {
    tessel::test::TempDir dir;
    tessel::bench::useDirectories(dir.path().string());
    QList<tessel::host::PlacedWidget> placed;
    for (int i = 0; i < widgets; ++i)
        placed.append({QString::number(i),
                       "TesselDesktopWidget",
                       tessel::widget::Family::Small,
                       QPoint(10 + (i % 6) * 180, 10 + (i / 6) * 180),
                       "",
                       {}});
    tessel::host::HostSettings::save(tessel::host::HostSettings::path(), placed);
    tessel::SnapshotStore().save(tessel::bench::realisticSnapshot(scale));
    if (widgets <= 0)
        return run(TESSEL_BENCH_BASELINE, widgets == 0 ? "window" : "text-window", idle);
    return run(TESSEL_WIDGET_HOST, nullptr, idle);
}

// Each iteration starts the baseline, the host with one widget (where more are placed) and the
// host with all of them, one after another, so that what the machine does meanwhile falls on
// all alike; counters are the medians of the iterations.
void BM_Host(benchmark::State& state) {
    const int widgets = int(state.range(0)), scale = int(state.range(1));
    std::vector<double> ratio, rss, base, text, textRatio, further, wakeups;
    for (auto _ : state) {
        const Run baseline = freshRun(0, scale, {});
        const Run texts = freshRun(-1, scale, {});
        const Run one = widgets > 1 ? freshRun(1, scale, {}) : Run{};
        const Run host = freshRun(widgets, scale, std::chrono::seconds(3));
        if (!baseline.ok || !texts.ok || !host.ok || (widgets > 1 && !one.ok)) {
            state.SkipWithError("no ready line");
            return;
        }
        base.push_back(baseline.rssKiB);
        rss.push_back(host.rssKiB);
        ratio.push_back(host.rssKiB / baseline.rssKiB);
        text.push_back(texts.rssKiB);
        textRatio.push_back(host.rssKiB / texts.rssKiB);
        wakeups.push_back(host.wakeupsPerSecond);
        if (widgets > 1)
            further.push_back((host.rssKiB - one.rssKiB) / (widgets - 1));
    }
    state.counters["baseline_KiB"] = median(base);
    state.counters["rss_KiB"] = median(rss);
    state.counters["rss_ratio"] = median(ratio);
    state.counters["text_window_KiB"] = median(text);
    state.counters["rss_ratio_to_text_window"] = median(textRatio);
    state.counters["idle_wakeups_per_s"] = median(wakeups);
    if (widgets > 1)
        state.counters["KiB_per_further_widget"] = median(further);
}
BENCHMARK(BM_Host)
    ->ArgNames({"widgets", "scale"})
    ->ArgsProduct({{1, 5, 20}, {1, 10, 100}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    return tessel::bench::benchmarkMain(argc, argv);
}
