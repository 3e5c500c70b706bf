// The client's cost over a bare libcurl GET of the same answer from the same loopback server.
#include <benchmark/benchmark.h>

#include "bench/bare_get.h"
#include "bench/ratio.h"
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

void BM_BareCurl(benchmark::State& state) {
    const std::string url = gateway().endpoint() + "/v1/tessel/usage?period=30d";
    std::string body;
    for (auto _ : state) {
        if (!tessel::bench::bareGet(url, body))
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

} // namespace

int main(int argc, char** argv) {
    return tessel::bench::runWithRatios(
        argc, argv,
        {{"client / bare libcurl", "BM_ClientFetch/real_time", "BM_BareCurl/real_time"}});
}
