// How long the GUI thread stalls when a very large quotas answer (30 MiB) reaches every window
// that shows subscriptions: the settings window (switches and the menu-bar picker), the
// dashboard's overview cards, the popup panel, the tray and the notifier, against the sample
// gateway's answer, in interleaved pairs. A 10 ms timer ticks throughout; the longest gap between
// two ticks is the stall, in wall time and in the GUI thread's own CPU time (which load on the
// machine does not stretch). Offscreen unless a platform is chosen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThreadPool>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include <time.h>

#include "app/application.h"
#include "app/settings/settings_window.h"
#include "bench/pairs.h"
#include "bench/qt_main.h"
#include "model/wire.h"
#include "storage/snapshot_store.h"
#include "support/sample_snapshot.h"
#include "support/temp_dir.h"
#include "support/test_gateway.h"
#include "sync/settings.h"
#include "sync/workers.h"
#include "tools/sample-gateway/sample_data.h"

namespace {

using tessel::bench::median;

using namespace tessel;

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The longest gap between two ticks of a 10 ms timer while it runs, in wall time and in the
// CPU time this thread spent.
class StallMeter {
public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        clock_.start();
        cpu_ = threadCpuMs();
        timer_.start();
    }
    void stop() {
        tick();
        timer_.stop();
    }
    // The figures of a run, beside how many subscriptions it ran over.
    void report(benchmark::State& state, std::size_t subscriptions) const {
        state.counters["subscriptions"] = double(subscriptions);
        state.counters["stall_ms"] = longest;
        state.counters["busy_ms"] = busiest;
    }
    double longest = 0;
    double busiest = 0;

private:
    void tick() {
        longest = std::max(longest, double(clock_.restart()));
        const double cpu = threadCpuMs();
        busiest = std::max(busiest, cpu - cpu_);
        cpu_ = cpu;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    double cpu_ = 0;
};

// Turns the event loop until the pool has been idle for a while: what the windows derive off
// the GUI thread has been handed back.
void settle() {
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 300) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
        if (QThreadPool::globalInstance()->activeThreadCount() > 0 ||
            Workers::pool()->activeThreadCount() > 0)
            idle.restart();
    }
}

struct Program {
    // `stored`: subscriptions already in the snapshot file when the program starts.
    explicit Program(int stored) {
        const QString ini = QString::fromStdString((dir.path() / "settings.ini").string());
        // A subscription far down the list: the tray and the notifier look it up.
        Settings(ini, Settings::Follow::none)
            .set({{AppSettings::endpoint, QString::fromStdString(gateway.endpoint())},
                  {AppSettings::interval, 3600},
                  {AppSettings::showMenuBar, false},
                  {AppSettings::menuQuota,
                   QStringLiteral("tessel|provider-1|oauth|user99@example.org")}});
        if (stored > 0) {
            Snapshot s;
            s.endpoint = gateway.endpoint();
            s.quotas = Wire::decode<QuotaEnvelope>(test::largeQuotasAnswer(stored, 0)).data;
            SnapshotStore(dir.path() / "container").save(s);
        }
        gateway.serveSample();
        TesselWidgetApp::Options options;
        options.sync.container = dir.path() / "container";
        options.sync.settingsPath = ini;
        options.trayWait = std::chrono::milliseconds(0);
        options.trayAvailable = [] { return false; };
        app = std::make_unique<TesselWidgetApp>(options);
    }
    // Answers of `count` subscriptions from now on, changing with every request.
    void serve(int count) {
        auto answers = std::make_shared<std::vector<std::string>>();
        answers->push_back(test::largeQuotasAnswer(count, 0));
        answers->push_back(test::largeQuotasAnswer(count, 1));
        auto round = std::make_shared<std::atomic<int>>(0);
        gateway.on("v1/tessel/quotas", [answers, round](const test::RecordedRequest&) {
            return test::Route::json((*answers)[std::size_t(round->fetch_add(1)) % 2]);
        });
    }

    test::TempDir dir;
    test::ScopedEnv state{"XDG_STATE_HOME", (dir.path() / "state").string()};
    test::TestGateway gateway;
    std::unique_ptr<TesselWidgetApp> app;
    std::unique_ptr<SettingsWindow> settings; // shown by a benchmark, closed between its pairs
};

// Each iteration is one pair: `step` run on the baseline program, then on the measured one, each
// under its own meter, and `after` on both outside the meters. Counters: the medians of both sides
// and of the pairs' ratios of busy time.
template <class Step, class After>
void stallPairs(benchmark::State& state, Program& baseline, Program& measured, Step step,
                After after) {
    std::vector<double> busyA, busyB, stallA, stallB, ratio;
    for (auto _ : state) {
        StallMeter a, b;
        a.start();
        step(baseline);
        a.stop();
        b.start();
        step(measured);
        b.stop();
        after(baseline);
        after(measured);
        busyA.push_back(a.busiest);
        busyB.push_back(b.busiest);
        stallA.push_back(a.longest);
        stallB.push_back(b.longest);
        ratio.push_back(b.busiest / std::max(a.busiest, 1e-3));
    }
    state.counters["subscriptions"] = double(measured.app->sync().snapshot().quotas.size());
    state.counters["baseline_busy_ms"] = median(busyA);
    state.counters["busy_ms"] = median(busyB);
    state.counters["baseline_stall_ms"] = median(stallA);
    state.counters["stall_ms"] = median(stallB);
    state.counters["ratio"] = median(ratio);
}

// Arg: subscriptions per answer, against the sample gateway's answer. Every window is open.
void BM_CycleStall(benchmark::State& state) {
    Program baseline(0), measured(0);
    measured.serve(int(state.range(0)));
    for (Program* program : {&baseline, &measured}) {
        program->app->start();
        program->app->showSettings();
        program->app->showPanel(QRect(100, 100, 1, 1));
    }
    settle();
    stallPairs(
        state, baseline, measured,
        [](Program& program) {
            QCoro::waitFor(program.app->sync().refresh(false));
            settle();
        },
        [](Program&) {});
}
BENCHMARK(BM_CycleStall)->Arg(88'000)->Iterations(3)->Unit(benchmark::kMillisecond);

// Arg: subscriptions stored, against none. The settings window's first show until its lists are
// filled.
void BM_SettingsFirstShow(benchmark::State& state) {
    Program baseline(0), measured(int(state.range(0)));
    settle();
    stallPairs(
        state, baseline, measured,
        [](Program& program) {
            program.settings.reset(program.app->showSettings());
            settle();
        },
        [](Program& program) {
            program.settings.reset();
            settle();
        });
}
BENCHMARK(BM_SettingsFirstShow)->Arg(113'000)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

// Each "ratio": the GUI thread's longest busy stretch with the large answer over
// the same with the small one.
int main(int argc, char** argv) {
    return tessel::bench::runQtWithRatios<QApplication>(argc, argv);
}
