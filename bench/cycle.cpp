// One full sync cycle (key, five requests off the GUI thread, merge, two file writes) over the
// five bare libcurl GETs of the same answers from the same loopback server.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <QCoreApplication>

#include <QCoro/QCoroTask>

#include <cstdio>
#include <map>
#include <memory>

#include "gateway/client.h"
#include "support/temp_dir.h"
#include "support/test_gateway.h"
#include "sync/data_sync_service.h"

namespace {

tessel::test::TestGateway& gateway() {
    static auto* gw = [] {
        auto* g = new tessel::test::TestGateway;
        g->serveSample();
        return g;
    }();
    return *gw;
}

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

void BM_BareCurlFive(benchmark::State& state) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string base = gateway().endpoint();
    const std::string urls[] = {
        base + "/api/hello", base + "/v1/tessel/quotas", base + "/v1/tessel/usage?period=today",
        base + "/v1/tessel/usage?period=7d", base + "/v1/tessel/usage?period=30d"};
    for (auto _ : state) {
        for (const std::string& url : urls) {
            std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                     &curl_easy_cleanup);
            std::string body;
            curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
            curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &collect);
            curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
            if (curl_easy_perform(curl.get()) != CURLE_OK)
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
    QSettings(ini, QSettings::IniFormat)
        .setValue("endpoint", QString::fromStdString(gateway().endpoint()));
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

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto base = times_.find("BM_BareCurlFive/real_time");
        const auto cycle = times_.find("BM_SyncCycle/real_time");
        const auto client = times_.find("BM_ClientFive/real_time");
        const auto bare = times_.find("BM_SyncCycleNoWrite/real_time");
        if (base != times_.end() && cycle != times_.end() && base->second > 0)
            std::printf("sync cycle / five bare GETs: %.2f\n", cycle->second / base->second);
        if (client != times_.end() && cycle != times_.end() && client->second > 0)
            std::printf("sync cycle / five client calls: %.2f\n", cycle->second / client->second);
        if (base != times_.end() && bare != times_.end() && base->second > 0)
            std::printf("sync cycle without the file write / five bare GETs: %.2f\n",
                        bare->second / base->second);
    }

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
