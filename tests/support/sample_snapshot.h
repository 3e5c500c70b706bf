// The snapshot the application would store after one good refresh of the sample gateway.
#pragma once

#include <chrono>

#include "model/wire.h"
#include "tools/sample-gateway/sample_data.h"

namespace tessel::test {

inline Snapshot sampleSnapshot(Instant now = std::chrono::system_clock::now()) {
    Snapshot s;
    s.endpoint = "http://127.0.0.1:3425";
    s.version = "1.4.2";
    // Whole seconds, as a stored snapshot comes back.
    s.updatedAt = s.attemptedAt = s.quotaUpdatedAt = s.usageUpdatedAt =
        std::chrono::floor<std::chrono::seconds>(now);
    s.quotas = Wire::decode<QuotaEnvelope>(sample::quotas(now)).data;
    for (const auto& [key, wire] : {std::pair{"today", "today"}, {"week", "7d"}, {"month", "30d"}})
        s.usage[key] = Wire::decode<Usage>(*sample::usage(wire, now));
    return s;
}

} // namespace tessel::test
