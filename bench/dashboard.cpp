// Opening the dashboard and switching its period with the sample gateway's snapshot, against
// the same with a snapshot ten times larger (ten times the subscriptions, models, agents and
// trend points). The lazy card grid and the painted rows should keep the larger one near the
// realistic one. Offscreen unless a platform is chosen.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <memory>

#include "app/dashboard/dashboard_view.h"
#include "app/dashboard/report_view.h"
#include "app/dashboard_window.h"
#include "app/shell_settings.h"
#include "app/update_controller.h"
#include "model/wire.h"
#include "ratio.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"
#include "sync/data_sync_service.h"
#include "tools/sample-gateway/sample_data.h"

namespace {

using namespace tessel;

Snapshot sample(int scale) {
    const auto now = std::chrono::system_clock::now();
    Snapshot s;
    s.endpoint = "http://127.0.0.1:3425";
    s.updatedAt = std::chrono::floor<std::chrono::seconds>(now);
    s.version = "1.4.2";
    const std::vector<Quota> quotas = Wire::decode<QuotaEnvelope>(sample::quotas(now)).data;
    for (int copy = 0; copy < scale; ++copy)
        for (Quota q : quotas) {
            q.user = "user" + std::to_string(copy); // a subscription of its own
            s.quotas.push_back(std::move(q));
        }
    for (const auto& [key, wire] :
         {std::pair{"today", "today"}, {"week", "7d"}, {"month", "30d"}}) {
        const Usage u = Wire::decode<Usage>(*sample::usage(wire, now));
        Usage scaled = u;
        scaled.series->clear();
        scaled.agents->clear();
        scaled.models->clear();
        for (int copy = 0; copy < scale; ++copy) {
            for (UsagePoint p : *u.series) {
                p.time += std::chrono::minutes(copy * 5); // finer buckets of the same period
                scaled.series->push_back(p);
            }
            for (UsageGroup g : *u.agents) {
                g.id += std::to_string(copy);
                scaled.agents->push_back(g);
            }
            for (UsageGroup g : *u.models) {
                g.id += std::to_string(copy);
                g.provider = *g.provider + std::to_string(copy);
                scaled.models->push_back(g);
            }
        }
        s.usage[key] = scaled;
    }
    return s;
}

// What a hostile gateway might send: 1000 subscriptions, 2000 models, 100 000 trend points with
// duplicate and unordered instants.
Snapshot huge() {
    Snapshot s = sample(1);
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

struct Fixture {
    explicit Fixture(int scale) {
        SnapshotStore(dir.path() / "container").save(scale > 0 ? sample(scale) : huge());
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
void BM_OpenDashboard(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    for (auto _ : state) {
        DashboardView view(f.service.get(), &f.updates, f.shell.get());
        view.resize(DashboardWindow::defaultSize);
        view.show();
        settle();
        benchmark::DoNotOptimize(view.grab());
    }
}
// Arg 0: the hostile snapshot.
BENCHMARK(BM_OpenDashboard)->Arg(1)->Arg(10)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

// One period change, redrawn.
void BM_SwitchPeriod(benchmark::State& state) {
    Fixture f(int(state.range(0)));
    f.service->setScreen(QStringLiteral("usage"));
    DashboardView view(f.service.get(), &f.updates, f.shell.get());
    view.resize(DashboardWindow::defaultSize);
    view.show();
    settle();
    const QString periods[] = {QStringLiteral("week"), QStringLiteral("month"),
                               QStringLiteral("today")};
    std::size_t next = 0;
    for (auto _ : state) {
        view.report()->setPeriod(periods[next++ % 3]);
        settle();
        benchmark::DoNotOptimize(view.grab());
    }
}
BENCHMARK(BM_SwitchPeriod)->Arg(1)->Arg(10)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return tessel::bench::runWithRatios(
        argc, argv,
        {{"open dashboard, 10x snapshot / sample snapshot", "BM_OpenDashboard/10/real_time",
          "BM_OpenDashboard/1/real_time"},
         {"switch period, 10x snapshot / sample snapshot", "BM_SwitchPeriod/10/real_time",
          "BM_SwitchPeriod/1/real_time"},
         {"open dashboard, hostile snapshot / sample snapshot", "BM_OpenDashboard/0/real_time",
          "BM_OpenDashboard/1/real_time"},
         {"switch period, hostile snapshot / sample snapshot", "BM_SwitchPeriod/0/real_time",
          "BM_SwitchPeriod/1/real_time"}});
}
