// Benchmarks that start a program (ours, or a minimal one of bench_baseline as the baseline) and
// measure it once it prints "ready": fresh directories, the spawn, the /proc figures, main().
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/ratio.h"

extern char** environ;

namespace tessel::bench {

// HOME and the XDG directories inside `root`, so nothing stored changes what is measured.
inline void useDirectories(const std::string& root) {
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
}

// A number in a /proc status file ("VmRSS:" in KiB, "voluntary_ctxt_switches:"); 0 if absent.
inline double statusField(const std::string& file, const char* field) {
    std::ifstream status(file);
    const std::size_t length = std::strlen(field);
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, length, field) == 0)
            return std::atof(line.c_str() + length);
    return 0;
}

struct Started {
    pid_t pid = -1;
    int output = -1; // kept open while the program runs: a late write must not kill it
    double seconds = 0;
    bool ready = false;
};

// Starts `program` (with `argument` unless null) and reads its output up to the "ready" line;
// `seconds` is the time until then. Hand the result to stop().
inline Started start(const std::string& program, const char* argument) {
    Started started;
    int out[2];
    if (pipe(out) != 0)
        return started;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument), nullptr};
    const auto begin = std::chrono::steady_clock::now();
    const int spawned =
        posix_spawn(&started.pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    started.output = out[0];
    if (spawned != 0) {
        started.pid = -1;
        return started;
    }
    std::string text;
    char buffer[256];
    ssize_t n;
    while (text.find("ready\n") == std::string::npos &&
           (n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    started.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    started.ready = text.find("ready\n") != std::string::npos;
    return started;
}

// Ends the program with `signal` and waits for it.
inline void stop(Started& started, int signal) {
    if (started.pid > 0) {
        kill(started.pid, signal);
        waitpid(started.pid, nullptr, 0);
    }
    if (started.output >= 0)
        close(started.output);
    started.pid = -1;
    started.output = -1;
}

// Asks the programs for their "ready" line and runs the benchmarks. The baselines are the
// minimal programs of bench_baseline, never this binary, which maps what it links.
inline int benchmarkMain(int argc, char** argv) {
    setenv("TESSEL_REPORT_READY", "1", 1);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return runWithRatios(argc, argv);
}

} // namespace tessel::bench
