// The client's cost over a bare libcurl GET of the same answer from the same loopback server.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <map>
#include <memory>

#include "gateway/client.h"
#include "support/test_gateway.h"
#include "tools/sample-gateway/sample_data.h"

namespace {

tessel::test::TestGateway& gateway() {
    static auto* gw = [] {
        auto* g = new tessel::test::TestGateway;
        g->on("v1/tessel/usage", tessel::test::Route::json(*tessel::sample::usage("30d")));
        return g;
    }();
    return *gw;
}

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

void BM_BareCurl(benchmark::State& state) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string url = gateway().endpoint() + "/v1/tessel/usage?period=30d";
    for (auto _ : state) {
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
BENCHMARK(BM_BareCurl)->UseRealTime();

void BM_ClientFetch(benchmark::State& state) {
    const tessel::TesselClient client(gateway().endpoint(), "bench-key");
    for (auto _ : state)
        benchmark::DoNotOptimize(client.fetch("v1/tessel/usage", {{"period", "30d"}}));
}
BENCHMARK(BM_ClientFetch)->UseRealTime();

// Prints the ratio of the client to the baseline once both have run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto base = times_.find("BM_BareCurl/real_time");
        const auto client = times_.find("BM_ClientFetch/real_time");
        if (base != times_.end() && client != times_.end() && base->second > 0)
            std::printf("client / bare libcurl: %.2f\n", client->second / base->second);
    }

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
