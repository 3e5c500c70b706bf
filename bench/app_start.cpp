// Start-up of TesselWidget (until the tray host shows its icon or, without a tray host, the
// dashboard is shown) and its resident memory then, against a minimal Qt Widgets program that
// shows a tray icon and nothing else: this same binary started with --baseline.
// scripts/bench-start runs it under Xvfb with a real tray host; alone it runs offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "ready_program.h"
#include "support/temp_dir.h"

namespace {

std::string self;

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

// Fresh private directories per start, so nothing stored changes what is measured.
// Returns the mean start time in seconds.
double measure(benchmark::State& state, const std::string& program, const char* argument) {
    double rss = 0, total = 0;
    int count = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tessel::test::TempDir dir;
        const std::string root = dir.path().string();
        tessel::bench::useDirectories(root);
        state.ResumeTiming();
        const Start start = run(program, argument);
        if (!start.ok) {
            state.SkipWithError("no ready line");
            break;
        }
        state.SetIterationTime(start.seconds);
        rss = start.rssKiB;
        total += start.seconds;
        ++count;
    }
    state.counters["rss_KiB"] = rss;
    return count ? total / count : 0;
}

double baselineSeconds = 0, baselineRss = 0;

void BM_BaselineTrayProgram(benchmark::State& state) {
    baselineSeconds = measure(state, self, "--baseline");
    baselineRss = state.counters["rss_KiB"];
}
BENCHMARK(BM_BaselineTrayProgram)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_TesselWidget(benchmark::State& state) {
    const double seconds = measure(state, TESSELWIDGET, nullptr);
    if (baselineRss > 0 && baselineSeconds > 0) {
        state.counters["rss_ratio"] = state.counters["rss_KiB"] / baselineRss;
        state.counters["time_ratio"] = seconds / baselineSeconds;
    }
}
BENCHMARK(BM_TesselWidget)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

int baseline(int argc, char** argv) {
    QApplication app(argc, argv);
    QPixmap square(22, 22);
    square.fill(Qt::darkCyan);
    QSystemTrayIcon icon{QIcon(square)};
    icon.show();
    // The same "ready" rule as the application's: the icon placed by a tray host, if any.
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (QSystemTrayIcon::isSystemTrayAvailable() && icon.geometry().isEmpty())
            return;
        poll.stop();
        std::puts("ready");
        std::fflush(stdout);
    });
    poll.start();
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    return tessel::bench::benchmarkMain(argc, argv, baseline, self);
}
