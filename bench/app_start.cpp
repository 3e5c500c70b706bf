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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/temp_dir.h"

extern char** environ;

namespace {

std::string self;

struct Start {
    double seconds = 0;
    double rssKiB = 0;
    bool ok = false;
};

double residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6);
    return 0;
}

// Starts the program, waits for its "ready" line, reads its memory and ends it.
Start run(const std::string& program, const std::string& argument) {
    int out[2];
    if (pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string arg = argument;
    char* argv[] = {const_cast<char*>(program.c_str()), arg.empty() ? nullptr : arg.data(),
                    nullptr};
    const auto begin = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    Start result;
    if (spawned == 0) {
        std::string text;
        char buffer[256];
        ssize_t n;
        while (text.find("ready\n") == std::string::npos &&
               (n = read(out[0], buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        result.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        result.ok = text.find("ready\n") != std::string::npos;
        // Memory once the start has settled (the first sync cycle runs beside the event loop),
        // outside the timed part.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        result.rssKiB = residentKiB(pid);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(out[0]);
    return result;
}

// Fresh private directories per start, so nothing stored changes what is measured.
// Returns the mean start time in seconds.
double measure(benchmark::State& state, const std::string& program, const std::string& argument) {
    double rss = 0, total = 0;
    int count = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tessel::test::TempDir dir;
        const std::string root = dir.path().string();
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
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
    const double seconds = measure(state, TESSELWIDGET, "");
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
    if (argc > 1 && std::strcmp(argv[1], "--baseline") == 0)
        return baseline(argc, argv);
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    self = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string(argv[0]);
    setenv("TESSEL_REPORT_READY", "1", 1);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
