// One full sync cycle (key, five requests off the GUI thread, merge, two file writes) over the
// five bare libcurl GETs of the same answers from the same loopback server.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <QCoro/QCoroTask>

#include "bench/bare_get.h"
#include "bench/ratio.h"
#include "gateway/client.h"
#include "support/temp_dir.h"
#include "support/test_gateway.h"
#include "sync/data_sync_service.h"
#include "sync/settings.h"

namespace {

tessel::test::TestGateway& gateway() {
    static auto* gw = [] {
        auto* g = new tessel::test::TestGateway;
        g->serveSample();
        return g;
    }();
    return *gw;
}

void BM_BareCurlFive(benchmark::State& state) {
    const std::string base = gateway().endpoint();
    const std::string urls[] = {
        base + "/api/hello", base + "/v1/tessel/quotas", base + "/v1/tessel/usage?period=today",
        base + "/v1/tessel/usage?period=7d", base + "/v1/tessel/usage?period=30d"};
    std::string body;
    for (auto _ : state) {
        for (const std::string& url : urls) {
            if (!tessel::bench::bareGet(url, body))
                state.SkipWithError("bare GET failed");
            benchmark::DoNotOptimize(body);
        }
    }
}
BENCHMARK(BM_BareCurlFive)->UseRealTime();

// The client alone, for telling the service's own share from the client's.
void BM_ClientFive(benchmark::State& state) {
    for (auto _ : state) {
        const tessel::TesselClient client(gateway().endpoint(), std::nullopt);
        benchmark::DoNotOptimize(client.hello());
        benchmark::DoNotOptimize(client.quotas());
        for (const char* period : {"today", "7d", "30d"})
            benchmark::DoNotOptimize(client.usage(period));
    }
}
BENCHMARK(BM_ClientFive)->UseRealTime();

// `durable`: with the shared container, so each cycle also syncs two files to disk.
void syncCycle(benchmark::State& state, bool durable) {
    const tessel::test::TempDir dir;
    const QString ini = QString::fromStdString((dir.path() / "settings.ini").string());
    tessel::Settings(ini, tessel::Settings::Follow::none)
        .set(tessel::AppSettings::endpoint, QString::fromStdString(gateway().endpoint()));
    tessel::DataSyncService::Options options;
    options.container = durable ? std::optional(dir.path() / "container") : std::nullopt;
    options.settingsPath = ini;
    tessel::DataSyncService service(options);
    for (auto _ : state) {
        QCoro::waitFor(service.refresh(false));
        if (service.snapshot().issue)
            state.SkipWithError("cycle reported an issue");
    }
}
void BM_SyncCycle(benchmark::State& state) {
    syncCycle(state, true);
}
void BM_SyncCycleNoWrite(benchmark::State& state) {
    syncCycle(state, false);
}
BENCHMARK(BM_SyncCycle)->UseRealTime();
BENCHMARK(BM_SyncCycleNoWrite)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return tessel::bench::runWithRatios(
        argc, argv,
        {{"sync cycle / five bare GETs", "BM_SyncCycle/real_time", "BM_BareCurlFive/real_time"},
         {"sync cycle / five client calls", "BM_SyncCycle/real_time", "BM_ClientFive/real_time"},
         {"sync cycle without the file write / five bare GETs", "BM_SyncCycleNoWrite/real_time",
          "BM_BareCurlFive/real_time"}});
}
