// The widgets' display choices, made in the application and read by every widget.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessel {

struct WidgetPreferences {
    static constexpr const char* noneSelected = "__none__";

    std::vector<std::string> providerIDs;
    std::int64_t quotaCount = 3;
    std::string metric = "remaining";
    std::string period = "today";
    bool showQuotas = true;
    bool showWindowName = true;
    bool showReset = false;
    bool showSync = true;
    bool showCost = true;
    bool showTokens = true;
    bool showChart = true;
    std::string chartMetric = "tokens";
    bool showRequests = false;
    bool showAgents = false;

    bool operator==(const WidgetPreferences&) const = default;
};

} // namespace tessel
