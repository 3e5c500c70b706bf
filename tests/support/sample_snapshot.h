// The snapshot stored after one good refresh of the sample gateway, and a huge quotas answer.
#pragma once

#include <chrono>
#include <string>

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

// `count` subscriptions of about 350 bytes each (88 000 make 30 MiB), ids "tessel|provider-<i mod
// 7>|oauth|user<i>@example.org"; `round` changes the figures, as a live gateway's change.
inline std::string largeQuotasAnswer(int count, int round = 0) {
    std::string out = R"({"data":[)";
    out.reserve(std::size_t(count) * 360 + 16);
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        out += (i ? ",{" : "{");
        out += R"("provider":"provider-)" + std::to_string(i % 7) + R"(","name":"subscription )" +
               n + R"(","kind":"oauth","user":"user)" + n +
               R"(@example.org","alias":"Team account )" + n +
               R"(","plan":"pro","from":"tessel","readAt":"2025-03-01T08:00:00Z","windows":[)"
               R"({"name":"5h","used":)" +
               std::to_string((i + round) % 100) +
               R"(,"resetsAt":"2025-03-01T10:00:00Z"},)"
               R"({"name":"7d","remaining":40,"resetsAt":"2025-03-05T08:00:00Z"}]})";
    }
    return out + "]}";
}

} // namespace tessel::test
