#include "widgets/provider.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <unordered_set>

#include "model/wire.h"
#include "storage/container.h"
#include "storage/file_io.h"
#include "storage/snapshot_store.h"
#include "widget_api/desktop_widget.h"
#include "widgets/selection_suite.h"

namespace tessel {

WidgetPreferences Entry::effectivePreferences() const {
    return configuration.followsAppSettings ? preferences : WidgetPreferences{};
}

WidgetMetric Entry::metric() const {
    if (!configuration.followsAppSettings)
        return configuration.metric;
    return Metric::fromRaw(preferences.metric).value_or(WidgetMetric::remaining);
}

WidgetPeriod Entry::period() const {
    if (!configuration.followsAppSettings)
        return configuration.period;
    return Period::fromRaw(preferences.period).value_or(WidgetPeriod::today);
}

std::vector<const Quota*> Entry::quotas() const {
    std::unordered_set<std::string_view> selected;
    if (configuration.followsAppSettings) {
        selected.insert(preferences.providerIDs.begin(), preferences.providerIDs.end());
    } else if (configuration.subscriptions) {
        for (const SubscriptionEntity& entity : *configuration.subscriptions)
            selected.insert(entity.id);
    }
    std::vector<const Quota*> shown;
    for (const Quota& quota : snapshot->quotas)
        if (selected.empty() || selected.contains(quota.id()))
            shown.push_back(&quota);
    return shown;
}

const Quota* Entry::selectedQuota() const {
    const std::vector<const Quota*> shown = quotas();
    if (shown.empty())
        return nullptr;
    const auto position = std::max<std::int64_t>(selectedIndex, 0);
    return shown[std::size_t(position % std::int64_t(shown.size()))];
}

const Usage* Entry::usage() const {
    const auto found = snapshot->usage.find(std::string(Period::rawValue(period())));
    return found == snapshot->usage.end() ? nullptr : &found->second;
}

namespace {

// Every widget of a host reads the same files in one reload burst: they share one decoded
// snapshot, freed with the last entry that holds it. The application replaces the files whole,
// so a changed file has another identity and is decoded again.
std::shared_ptr<const Snapshot> sharedSnapshot(const std::filesystem::path& directory) {
    struct Decoded {
        std::optional<FileIO::Identity> current, previous;
        std::weak_ptr<const Snapshot> snapshot;
    };
    // Never destroyed: a worker may still read while the process ends.
    static auto& mutex = *new std::mutex;
    static auto& decoded = *new std::map<std::string, Decoded>;
    // Held while decoding: the widgets' concurrent workers wait for the one decode instead of
    // each making their own copy. The identities are taken before the read, so what is kept is
    // never older than its key.
    const std::lock_guard lock(mutex);
    const auto current = FileIO::identity(directory / "snapshot.json");
    const auto previous = FileIO::identity(directory / "previous.json");
    Decoded& slot = decoded[directory.string()];
    if (slot.current == current && slot.previous == previous)
        if (auto kept = slot.snapshot.lock())
            return kept;
    auto snapshot = std::make_shared<const Snapshot>(SnapshotStore(directory).load());
    // The host idles until the next burst, which is minutes away: the parser sized for this
    // snapshot would only sit there.
    Wire::releaseKeptParsers();
    slot = {current, previous, snapshot};
    return snapshot;
}

} // namespace

Entry Provider::placeholder() {
    return Entry{.date = std::chrono::system_clock::now()};
}

Entry Provider::makeEntry(const ConfigurationIntent& configuration,
                          const std::optional<std::filesystem::path>& directory) {
    Entry entry{.date = std::chrono::system_clock::now(), .configuration = configuration};
    if (directory)
        entry.snapshot = sharedSnapshot(*directory);
    entry.selectedIndex = SelectionSuite(directory).integer(configuration.selectionKey());
    entry.preferences = WidgetPreferencesStore(directory).load();
    return entry;
}

Entry Provider::snapshot(const ConfigurationIntent& configuration) {
    return makeEntry(configuration, SharedContainer::directory());
}

Timeline Provider::timeline(const ConfigurationIntent& configuration) {
    Entry entry = snapshot(configuration);
    Instant after = entry.date + DesktopWidget::timelineInterval;
    // A footer that says "synced" must not outlive the data's freshness: the widget reads the
    // files again the second the entry would turn stale, and finds newer data or shows the age.
    const Snapshot& s = *entry.snapshot;
    if (s.updatedAt && !s.issue && entry.effectivePreferences().showSync) {
        const auto age = elapsed(*s.updatedAt, entry.date);
        if (age <= Snapshot::freshness && age > -DesktopWidget::timelineInterval)
            after =
                std::min(after, entry.date + (Snapshot::freshness + std::chrono::seconds(1) - age));
    }
    Timeline timeline{.after = after};
    timeline.entries.push_back(std::move(entry));
    return timeline;
}

} // namespace tessel
