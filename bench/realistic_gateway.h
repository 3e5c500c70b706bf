// A loopback test gateway answering with the realistic data at a scale, one per scale for the
// whole run.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "bench/pairs.h"
#include "model/wire.h"
#include "support/test_gateway.h"

namespace tessel::bench {

// The usage answers of `s`, by the period the gateway is asked for.
inline void serveUsage(test::TestGateway& gateway, const Snapshot& s) {
    // Shared: the gateway copies its handler for every request.
    auto usage = std::make_shared<std::map<std::string, std::string>>();
    for (const auto& [key, u] : s.usage)
        (*usage)[u.period] = Wire::encode(u);
    gateway.on("v1/tessel/usage",
               test::TestGateway::Handler([usage](const test::RecordedRequest& request) {
                   const auto found = usage->find(request.param("period"));
                   return found != usage->end()
                              ? test::Route::json(found->second)
                              : test::Route::json(R"({"error":"unknown period"})", 400);
               }));
}

inline test::TestGateway& realisticGateway(int scale) {
    static std::map<int, test::TestGateway*> gateways;
    test::TestGateway*& gateway = gateways[scale];
    if (!gateway) {
        gateway = new test::TestGateway; // lives as long as the process: its clients may too
        gateway->serveHello("1.4.2");
        const Snapshot s = realisticSnapshot(scale);
        gateway->on("v1/tessel/quotas", test::Route::json(Wire::encode(QuotaEnvelope{s.quotas})));
        serveUsage(*gateway, s);
    }
    return *gateway;
}

} // namespace tessel::bench
