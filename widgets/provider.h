// Timeline entries built from the shared files, and the settings a view draws with.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "model/snapshot.h"
#include "storage/widget_preferences.h"
#include "widgets/configuration.h"

namespace tessel {

struct Entry {
    Instant date{};
    // Shared by every entry built from the same files; never null.
    std::shared_ptr<const Snapshot> snapshot = std::make_shared<const Snapshot>();
    ConfigurationIntent configuration{};
    std::int64_t selectedIndex = 0; // as stored; the views wrap it
    WidgetPreferences preferences{};

    // The effective settings: the application's preferences when the widget follows them,
    // else the defaults with the widget's own metric, period and subscriptions.
    WidgetPreferences effectivePreferences() const;
    WidgetMetric metric() const;
    WidgetPeriod period() const;
    // Pointers into `snapshot`, valid while the entry lives.
    std::vector<const Quota*> quotas() const;
    const Quota* selectedQuota() const;
    const Usage* usage() const;
};

struct Timeline {
    std::vector<Entry> entries{};
    Instant after{};
};

// What it returns never depends on earlier calls; safe from any thread.
namespace Provider {
Entry placeholder();
// Reads snapshot.json (or its fallbacks), widget-preferences.json and the selection integer
// of the configuration's group, all afresh. `directory` is the shared container. The decoded
// snapshot is reused only while another entry holds it and both snapshot files still have the
// identity they had when it was decoded.
Entry makeEntry(const ConfigurationIntent& configuration,
                const std::optional<std::filesystem::path>& directory);
Entry snapshot(const ConfigurationIntent& configuration);
Timeline timeline(const ConfigurationIntent& configuration);
} // namespace Provider

} // namespace tessel
