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
#include "widgets/trend.h"

namespace tessel {

struct Entry {
    // Of the snapshot, only what a view draws with the entry's settings (see `keep`).
    struct Drawn {
        Snapshot status;           // the snapshot's own fields: no quotas, no usage
        std::vector<Quota> quotas; // the first three shown
        std::optional<Quota> selected;
        std::size_t shownCount = 0;
        std::optional<Usage> usage; // the period's figures and first agent; no series, no models
        Trend trend;                // its series when the chart is shown
    };

    Instant date{};
    ConfigurationIntent configuration{};
    std::int64_t selectedIndex = 0; // as stored; the views wrap it
    WidgetPreferences preferences{};
    // Shared by the entry's copies; never null.
    std::shared_ptr<const Drawn> drawn = std::make_shared<const Drawn>();

    // Takes from `snapshot` what a view draws with the settings above, which must be set first.
    Entry& keep(const Snapshot& snapshot);

    // The effective settings: the application's preferences when the widget follows them,
    // else the defaults with the widget's own metric, period and subscriptions.
    WidgetPreferences effectivePreferences() const;
    WidgetMetric metric() const;
    WidgetPeriod period() const;
    const Snapshot& status() const { return drawn->status; }
    // The first three of the subscriptions shown, in the snapshot's order, and their count.
    const std::vector<Quota>& quotas() const { return drawn->quotas; }
    std::size_t shownCount() const { return drawn->shownCount; }
    const Quota* selectedQuota() const;
    const Usage* usage() const;
    const Trend& trend() const { return drawn->trend; }
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
// snapshot is kept for the rest of the reload burst (a second, on the application's thread) and
// reused only while both snapshot files still have the identity they had when it was decoded.
Entry makeEntry(const ConfigurationIntent& configuration,
                const std::optional<std::filesystem::path>& directory);
// Lets go of the snapshot kept for the burst now, as the end of the burst does.
void releaseSnapshot();
Entry snapshot(const ConfigurationIntent& configuration);
Timeline timeline(const ConfigurationIntent& configuration);
} // namespace Provider

} // namespace tessel
