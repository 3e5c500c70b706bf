// The widget host's memory with 1, 5 and 20 placed widgets against a minimal Qt Widgets program
// that shows one frameless window (this binary with --baseline), and the host's wake-ups while
// it idles between reloads. scripts/bench-host runs it on a real X server (Xvfb).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "host/host_settings.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

std::string self;

double statusField(const std::string& file, const char* field) {
    std::ifstream status(file);
    const std::size_t length = std::strlen(field);
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, length, field) == 0)
            return std::atof(line.c_str() + length);
    return 0;
}

// Context switches of every thread: each one is a wake-up of a thread that slept.
double switches(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR* dir = opendir(tasks.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string status = tasks + "/" + entry->d_name + "/status";
            total += statusField(status, "voluntary_ctxt_switches:") +
                     statusField(status, "nonvoluntary_ctxt_switches:");
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
    int out[2];
    if (pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument), nullptr};
    const auto begin = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    Run result;
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
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const std::string status = "/proc/" + std::to_string(pid) + "/status";
        result.rssKiB = statusField(status, "VmRSS:");
        const double before = switches(pid);
        std::this_thread::sleep_for(idle);
        result.wakeupsPerSecond =
            (switches(pid) - before) / std::chrono::duration<double>(idle).count();
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    close(out[0]);
    return result;
}

std::map<int, double> rss; // widgets placed -> KiB; 0 is the baseline

void measure(benchmark::State& state, int widgets) {
    Run last;
    for (auto _ : state) {
        tessel::test::TempDir dir;
        const std::string root = dir.path().string();
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
        QList<tessel::host::PlacedWidget> placed;
        for (int i = 0; i < widgets; ++i)
            placed.append({QString::number(i),
                           "TesselDesktopWidget",
                           "small",
                           QPoint(10 + (i % 6) * 180, 10 + (i / 6) * 180),
                           "",
                           {}});
        tessel::host::HostSettings::save(tessel::host::HostSettings::path(), placed);
        last = widgets == 0 ? run(self, "--baseline", std::chrono::seconds(3))
                            : run(TESSEL_WIDGET_HOST, nullptr, std::chrono::seconds(3));
        if (!last.ok) {
            state.SkipWithError("no ready line");
            return;
        }
        state.SetIterationTime(last.seconds);
    }
    rss[widgets] = last.rssKiB;
    state.counters["rss_KiB"] = last.rssKiB;
    state.counters["idle_wakeups_per_s"] = last.wakeupsPerSecond;
    if (widgets > 0 && rss.count(0) && rss[0] > 0)
        state.counters["rss_ratio"] = last.rssKiB / rss[0];
    if (widgets > 1 && rss.count(1))
        state.counters["KiB_per_further_widget"] = (last.rssKiB - rss[1]) / (widgets - 1);
}

void BM_BaselineFramelessWindow(benchmark::State& state) {
    measure(state, 0);
}
BENCHMARK(BM_BaselineFramelessWindow)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_Host(benchmark::State& state) {
    measure(state, int(state.range(0)));
}
BENCHMARK(BM_Host)
    ->Arg(1)
    ->Arg(5)
    ->Arg(20)
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
