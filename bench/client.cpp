// The client's cost over a bare libcurl GET of the same answer from the same loopback server, in
// interleaved pairs over the realistic data's 30-day usage at 1x, 10x and 100x.
#include <benchmark/benchmark.h>

#include "bench/bare_get.h"
#include "bench/ratio.h"
#include "bench/realistic_gateway.h"
#include "gateway/client.h"

namespace {

using namespace tessel;

void BM_ClientVsBareCurl(benchmark::State& state) {
    const std::string endpoint = bench::realisticGateway(int(state.range(0))).endpoint();
    const std::string url = endpoint + "/v1/tessel/usage?period=30d";
    const TesselClient client(endpoint, "bench-key");
    std::string body;
    bench::interleaved(
        state,
        [&] {
            if (!bench::bareGet(url, body))
                state.SkipWithError("bare GET failed");
            benchmark::DoNotOptimize(body);
        },
        [&] {
            benchmark::DoNotOptimize(client.fetch("v1/tessel/usage", {{"period", "30d"}}));
        },
        bench::Clock::Wall);
}
BENCHMARK(BM_ClientVsBareCurl)->Arg(1)->Arg(10)->Arg(100)->Iterations(9);

} // namespace

// Each "ratio": the client's time over the bare GET's.
int main(int argc, char** argv) {
    return bench::runWithRatios(argc, argv);
}
