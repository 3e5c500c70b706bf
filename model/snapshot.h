// What the application knows about the gateway; shared with the widgets through files.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "records.h"

namespace tessel {

struct Snapshot {
    static constexpr std::int64_t currentSchema = 1;
    static constexpr std::chrono::seconds freshness{180};

    std::int64_t schema = currentSchema;
    std::optional<Instant> updatedAt;
    std::optional<Instant> attemptedAt;
    std::optional<Instant> quotaUpdatedAt;
    std::optional<Instant> usageUpdatedAt;
    std::string endpoint;
    std::optional<std::string> version;
    std::optional<std::string> issue;
    std::vector<Quota> quotas;
    std::map<std::string, Usage> usage;

    std::string status(Instant now = std::chrono::system_clock::now()) const;
    bool stale(Instant at) const;
};

} // namespace tessel
