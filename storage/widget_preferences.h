// The widgets' display choices, made in the application, kept in widget-preferences.json.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
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

class WidgetPreferencesStore {
public:
    WidgetPreferencesStore();
    explicit WidgetPreferencesStore(std::optional<std::filesystem::path> directory);

    // Never fails; anything unusable reads as the defaults.
    WidgetPreferences load() const;
    // Throws std::system_error; atomic.
    void save(const WidgetPreferences& preferences) const;

    const std::optional<std::filesystem::path>& directory() const { return directory_; }

private:
    std::optional<std::filesystem::path> directory_;
};

} // namespace tessel
