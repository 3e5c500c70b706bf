// The widget host's memory with 1, 5 and 20 placed widgets over the realistic data at 1x, 10x
// and 100x against a minimal Qt Widgets program that shows one frameless window (this binary
// with --baseline), and the host's wake-ups while it idles between reloads. scripts/bench-host runs
// it on a real X server (Xvfb).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <map>
#include <string>
#include <thread>

#include "host/host_settings.h"
#include "pairs.h"
#include "ready_program.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"

namespace {

std::string self;

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

// Starts the program, waits for its "ready" line, lets it settle, then reads its memory and
// counts its wake-ups over `idle`.
Run run(const std::string& program, const char* argument, std::chrono::milliseconds idle) {
    tessel::bench::Started started = tessel::bench::start(program, argument);
    Run result;
    result.seconds = started.seconds;
    result.ok = started.ready;
    if (started.pid > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
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

std::map<std::pair<int, int>, double> rss; // (widgets placed, scale) -> KiB; 0 widgets: baseline

void measure(benchmark::State& state, int widgets, int scale = 0) {
    Run last;
    for (auto _ : state) {
        tessel::test::TempDir dir;
        const std::string root = dir.path().string();
        tessel::bench::useDirectories(root);
        QList<tessel::host::PlacedWidget> placed;
        for (int i = 0; i < widgets; ++i)
            placed.append({QString::number(i),
                           "TesselDesktopWidget",
                           tessel::widget::Family::Small,
                           QPoint(10 + (i % 6) * 180, 10 + (i / 6) * 180),
                           "",
                           {}});
        tessel::host::HostSettings::save(tessel::host::HostSettings::path(), placed);
        if (scale > 0)
            tessel::SnapshotStore().save(tessel::bench::realisticSnapshot(scale));
        last = widgets == 0 ? run(self, "--baseline", std::chrono::seconds(3))
                            : run(TESSEL_WIDGET_HOST, nullptr, std::chrono::seconds(3));
        if (!last.ok) {
            state.SkipWithError("no ready line");
            return;
        }
        state.SetIterationTime(last.seconds);
    }
    rss[{widgets, scale}] = last.rssKiB;
    state.counters["rss_KiB"] = last.rssKiB;
    state.counters["idle_wakeups_per_s"] = last.wakeupsPerSecond;
    if (widgets > 0 && rss.count({0, 0}) && rss[{0, 0}] > 0)
        state.counters["rss_ratio"] = last.rssKiB / rss[{0, 0}];
    if (widgets > 1 && rss.count({1, scale}))
        state.counters["KiB_per_further_widget"] = (last.rssKiB - rss[{1, scale}]) / (widgets - 1);
}

void BM_BaselineFramelessWindow(benchmark::State& state) {
    measure(state, 0);
}
BENCHMARK(BM_BaselineFramelessWindow)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_Host(benchmark::State& state) {
    measure(state, int(state.range(0)), int(state.range(1)));
}
BENCHMARK(BM_Host)
    ->ArgNames({"widgets", "scale"})
    ->ArgsProduct({{1, 5, 20}, {1, 10, 100}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int baseline(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.resize(170, 170);
    window.show();
    QTimer::singleShot(0, [] {
        std::puts("ready");
        std::fflush(stdout);
    });
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    return tessel::bench::benchmarkMain(argc, argv, baseline, self);
}
