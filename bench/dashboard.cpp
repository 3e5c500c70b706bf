// Opening the dashboard and switching its period over the realistic data at 10x and 100x, and
// over a hostile snapshot, each in interleaved pairs against the same over the realistic data at
// 1x. The lazy card grid and the painted rows should keep the larger ones near the realistic one.
// Offscreen unless a platform is chosen.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <memory>

#include "app/dashboard/dashboard_view.h"
#include "app/dashboard/report_view.h"
#include "app/dashboard_window.h"
#include "app/shell_settings.h"
#include "app/update_controller.h"
#include "bench/pairs.h"
#include "bench/qt_main.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"
#include "sync/data_sync_service.h"

namespace {

using namespace tessel;

// What a hostile gateway might send: 1000 subscriptions, 2000 models, 100 000 trend points with
// duplicate and unordered instants.
Snapshot huge() {
    Snapshot s = bench::realisticSnapshot(1);
    const std::vector<Quota> quotas = s.quotas;
    s.quotas.clear();
    for (int i = 0; i < 1000; ++i) {
        Quota q = quotas[std::size_t(i) % quotas.size()];
        q.user = std::to_string(i);
        s.quotas.push_back(std::move(q));
    }
    for (auto& [key, usage] : s.usage) {
        const UsageGroup model = usage.models->front();
        usage.models->clear();
        for (int i = 0; i < 2000; ++i) {
            UsageGroup g = model;
            g.id += std::to_string(i);
            g.provider = "p" + std::to_string(i % 300);
            usage.models->push_back(std::move(g));
        }
        const UsagePoint point = usage.series->front();
        usage.series->clear();
        for (int i = 0; i < 100'000; ++i) {
            UsagePoint p = point;
            p.time += std::chrono::seconds((i * 7919) % 100'000); // unordered, some repeated
            p.input = i % 1000;
            usage.series->push_back(std::move(p));
        }
    }
    return s;
}

// Scale 0: the hostile snapshot.
struct Fixture {
    explicit Fixture(int scale) {
        SnapshotStore(dir.path() / "container")
            .save(scale > 0 ? bench::realisticSnapshot(scale) : huge());
        DataSyncService::Options o;
        o.container = dir.path() / "container";
        o.settingsPath = QString::fromStdString((dir.path() / "settings.ini").string());
        service = std::make_unique<DataSyncService>(o);
        shell = std::make_unique<ShellSettings>(o.settingsPath);
    }
    test::TempDir dir;
    test::ScopedEnv state{"XDG_STATE_HOME", (dir.path() / "state").string()};
    std::unique_ptr<DataSyncService> service;
    UpdateController updates;
    std::unique_ptr<ShellSettings> shell;
};

void settle() {
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

// Made, shown, laid out and painted once, as a user opening the window sees it.
void open(Fixture& f) {
    DashboardView view(f.service.get(), &f.updates, f.shell.get());
    view.resize(DashboardWindow::defaultSize);
    view.show();
    settle();
    benchmark::DoNotOptimize(view.grab());
}

void BM_OpenDashboard(benchmark::State& state) {
    Fixture realistic(1), measured(int(state.range(0)));
    bench::interleaved(
        state, [&] { open(realistic); }, [&] { open(measured); });
}
BENCHMARK(BM_OpenDashboard)->Arg(10)->Arg(100)->Arg(0)->Iterations(7);

// One period change, redrawn.
struct Switcher {
    explicit Switcher(Fixture& f) : view(f.service.get(), &f.updates, f.shell.get()) {
        view.resize(DashboardWindow::defaultSize);
        view.show();
        settle();
    }
    void operator()() {
        static const QString periods[] = {QStringLiteral("week"), QStringLiteral("month"),
                                          QStringLiteral("today")};
        view.report()->setPeriod(periods[next++ % 3]);
        settle();
        benchmark::DoNotOptimize(view.grab());
    }
    DashboardView view;
    std::size_t next = 0;
};

void BM_SwitchPeriod(benchmark::State& state) {
    Fixture realistic(1), measured(int(state.range(0)));
    realistic.service->setScreen(QStringLiteral("usage"));
    measured.service->setScreen(QStringLiteral("usage"));
    Switcher a(realistic), b(measured);
    bench::interleaved(
        state, [&] { a(); }, [&] { b(); });
}
BENCHMARK(BM_SwitchPeriod)->Arg(10)->Arg(100)->Arg(0)->Iterations(7);

} // namespace

// Each "ratio": the larger snapshot's time over the 1x one's (Arg 0: hostile).
int main(int argc, char** argv) {
    return tessel::bench::runQtWithRatios<QApplication>(argc, argv);
}
