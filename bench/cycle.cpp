// One full sync cycle (key, five requests off the GUI thread, merge, two file writes), and one
// without the file writes, against the five bare libcurl GETs of the same answers and against
// the five client calls, from the same loopback server, in interleaved pairs over the realistic
// data at 1x, 10x and 100x.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <QCoro/QCoroTask>

#include "bench/bare_get.h"
#include "bench/qt_main.h"
#include "bench/realistic_gateway.h"
#include "gateway/client.h"
#include "support/temp_dir.h"
#include "sync/data_sync_service.h"
#include "sync/settings.h"

namespace {

using namespace tessel;

struct BareFive {
    explicit BareFive(const std::string& base)
        : urls{base + "/api/hello", base + "/v1/tessel/quotas",
               base + "/v1/tessel/usage?period=today", base + "/v1/tessel/usage?period=7d",
               base + "/v1/tessel/usage?period=30d"} {}
    bool operator()() {
        bool ok = true;
        for (const std::string& url : urls) {
            ok = bench::bareGet(url, body) && ok;
            benchmark::DoNotOptimize(body);
        }
        return ok;
    }
    std::string urls[5];
    std::string body;
};

// The client alone, for telling the service's own share from the client's.
void clientFive(const std::string& endpoint) {
    const TesselClient client(endpoint, std::nullopt);
    benchmark::DoNotOptimize(client.hello());
    benchmark::DoNotOptimize(client.quotas());
    for (const char* period : {"today", "7d", "30d"})
        benchmark::DoNotOptimize(client.usage(period));
}

// `durable`: with the shared container, so each cycle also syncs two files to disk.
struct Cycle {
    Cycle(const std::string& endpoint, bool durable) {
        const QString ini = QString::fromStdString((dir.path() / "settings.ini").string());
        Settings(ini, Settings::Follow::none)
            .set(AppSettings::endpoint, QString::fromStdString(endpoint));
        DataSyncService::Options options;
        options.container = durable ? std::optional(dir.path() / "container") : std::nullopt;
        options.settingsPath = ini;
        service = std::make_unique<DataSyncService>(options);
    }
    bool operator()() {
        QCoro::waitFor(service->refresh(false));
        return !service->snapshot().issue;
    }
    test::TempDir dir;
    std::unique_ptr<DataSyncService> service;
};

enum class Against { Bare, Client };

void cycleVs(benchmark::State& state, bool durable, Against against) {
    const std::string endpoint = bench::realisticGateway(int(state.range(0))).endpoint();
    BareFive bare(endpoint);
    Cycle cycle(endpoint, durable);
    bench::interleaved(
        state,
        [&] {
            if (against == Against::Client)
                clientFive(endpoint);
            else if (!bare())
                state.SkipWithError("bare GET failed");
        },
        [&] {
            if (!cycle())
                state.SkipWithError("cycle reported an issue");
        },
        bench::Clock::Wall);
}
void BM_CycleVsBareFive(benchmark::State& state) {
    cycleVs(state, true, Against::Bare);
}
void BM_CycleVsClientFive(benchmark::State& state) {
    cycleVs(state, true, Against::Client);
}
void BM_CycleNoWriteVsBareFive(benchmark::State& state) {
    cycleVs(state, false, Against::Bare);
}
// The floor of a cycle: the client's five calls (the same GETs, each answer decoded).
void BM_ClientFiveVsBareFive(benchmark::State& state) {
    const std::string endpoint = bench::realisticGateway(int(state.range(0))).endpoint();
    BareFive bare(endpoint);
    bench::interleaved(
        state,
        [&] {
            if (!bare())
                state.SkipWithError("bare GET failed");
        },
        [&] { clientFive(endpoint); }, bench::Clock::Wall);
}
BENCHMARK(BM_CycleVsBareFive)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(BM_CycleVsClientFive)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(BM_CycleNoWriteVsBareFive)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(BM_ClientFiveVsBareFive)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);

} // namespace

// Each "ratio": the cycle's time over its floor's.
int main(int argc, char** argv) {
    return bench::runQtWithRatios<QCoreApplication>(argc, argv);
}
