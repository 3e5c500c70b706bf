#include "widgets/provider.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <map>
#include <mutex>
#include <unordered_set>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

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

Entry& Entry::keep(const Snapshot& snapshot) {
    auto kept = std::make_shared<Drawn>();
    Snapshot& status = kept->status;
    status.schema = snapshot.schema;
    status.updatedAt = snapshot.updatedAt;
    status.attemptedAt = snapshot.attemptedAt;
    status.quotaUpdatedAt = snapshot.quotaUpdatedAt;
    status.usageUpdatedAt = snapshot.usageUpdatedAt;
    status.endpoint = snapshot.endpoint;
    status.version = snapshot.version;
    status.issue = snapshot.issue;

    std::unordered_set<std::string_view> chosen;
    if (configuration.followsAppSettings) {
        chosen.insert(preferences.providerIDs.begin(), preferences.providerIDs.end());
    } else if (configuration.subscriptions) {
        for (const SubscriptionEntity& entity : *configuration.subscriptions)
            chosen.insert(entity.id);
    }
    std::vector<const Quota*> shown;
    for (const Quota& quota : snapshot.quotas)
        if (chosen.empty() || chosen.contains(quota.id()))
            shown.push_back(&quota);
    kept->shownCount = shown.size();
    // No family shows more rows than three.
    for (std::size_t i = 0; i < std::min<std::size_t>(3, shown.size()); ++i)
        kept->quotas.push_back(*shown[i]);
    if (!shown.empty()) {
        const auto position = std::max<std::int64_t>(selectedIndex, 0);
        kept->selected = *shown[std::size_t(position % std::int64_t(shown.size()))];
    }

    const auto found = snapshot.usage.find(std::string(Period::rawValue(period())));
    if (found != snapshot.usage.end()) {
        const Usage& usage = found->second;
        const WidgetPreferences shownWith = effectivePreferences();
        if (shownWith.showChart && usage.series)
            kept->trend = trendOf(*usage.series, shownWith.chartMetric == "cost");
        Usage& figures = kept->usage.emplace(Usage{.period = usage.period,
                                                   .since = usage.since,
                                                   .calls = usage.calls,
                                                   .input = usage.input,
                                                   .output = usage.output,
                                                   .cache_read = usage.cache_read,
                                                   .cache_write = usage.cache_write,
                                                   .cost = usage.cost,
                                                   .unpriced = usage.unpriced});
        if (usage.agents) {
            figures.agents.emplace();
            if (!usage.agents->empty())
                figures.agents->push_back(usage.agents->front());
        }
    }
    drawn = std::move(kept);
    return *this;
}

const Quota* Entry::selectedQuota() const {
    return drawn->selected ? &*drawn->selected : nullptr;
}

const Usage* Entry::usage() const {
    return drawn->usage ? &*drawn->usage : nullptr;
}

namespace {

constexpr std::chrono::seconds burst{1};

struct Decoded {
    std::optional<FileIO::Identity> current, previous;
    std::shared_ptr<const Snapshot> snapshot;
};
// Never destroyed: a worker may still read while the process ends.
std::mutex& decodedMutex() {
    static auto& mutex = *new std::mutex;
    return mutex;
}
std::map<std::string, Decoded>& decodedSnapshots() {
    static auto& decoded = *new std::map<std::string, Decoded>;
    return decoded;
}
bool releasePending = false; // under decodedMutex()

// After the burst, one wake-up on the application's thread hands the snapshots to a worker to
// free (tens of milliseconds at 100 000 subscriptions) and gives the heap back.
void releaseAfterBurst() {
    QCoreApplication* application = QCoreApplication::instance();
    QMetaObject::invokeMethod(
        application,
        [] {
            QTimer::singleShot(burst, [] {
                QThreadPool::globalInstance()->start([] {
                    Provider::releaseSnapshot();
#ifdef __GLIBC__
                    malloc_trim(0);
#endif
                });
            });
        },
        Qt::QueuedConnection);
}

// Every widget of a host reads the same files in one reload burst: they share one decoded
// snapshot, kept until the burst is over. The application replaces the files whole, so a
// changed file has another identity and is decoded again.
std::shared_ptr<const Snapshot> sharedSnapshot(const std::filesystem::path& directory) {
    // Held while decoding: the widgets' concurrent workers wait for the one decode instead of
    // each making their own copy. The identities are taken before the read, so what is kept is
    // never older than its key.
    const std::lock_guard lock(decodedMutex());
    const auto current = FileIO::identity(directory / "snapshot.json");
    const auto previous = FileIO::identity(directory / "previous.json");
    Decoded& slot = decodedSnapshots()[directory.string()];
    if (slot.snapshot && slot.current == current && slot.previous == previous)
        return slot.snapshot;
    auto snapshot = std::make_shared<const Snapshot>(SnapshotStore(directory).load());
    // The host idles until the next burst, which is minutes away: the parser sized for this
    // snapshot would only sit there.
    Wire::releaseKeptParsers();
    slot = {};
    // Without an application nothing would end the burst: nothing is kept.
    if (QCoreApplication::instance()) {
        slot = {current, previous, snapshot};
        if (!std::exchange(releasePending, true))
            releaseAfterBurst();
    }
    return snapshot;
}

} // namespace

void Provider::releaseSnapshot() {
    std::vector<std::shared_ptr<const Snapshot>> released;
    {
        // In the same hold as the snapshots are taken: a burst that begins in between would
        // otherwise keep its fresh snapshot with no release to come, or lose it to this one.
        const std::lock_guard lock(decodedMutex());
        releasePending = false;
        for (auto& [directory, slot] : decodedSnapshots())
            if (slot.snapshot)
                released.push_back(std::move(slot.snapshot));
    }
    // Freed outside the lock, so a new burst's first reader need not wait for it.
}

Entry Provider::placeholder() {
    return Entry{.date = std::chrono::system_clock::now()};
}

Entry Provider::makeEntry(const ConfigurationIntent& configuration,
                          const std::optional<std::filesystem::path>& directory) {
    Entry entry{.date = std::chrono::system_clock::now(), .configuration = configuration};
    const auto snapshot =
        directory ? sharedSnapshot(*directory) : std::make_shared<const Snapshot>();
    entry.selectedIndex = SelectionSuite(directory).integer(configuration.selectionKey());
    entry.preferences = WidgetPreferencesStore(directory).load();
    entry.keep(*snapshot);
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
    const Snapshot& s = entry.status();
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
