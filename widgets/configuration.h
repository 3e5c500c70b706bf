// A placed widget's own configuration, the subscriptions it can pick and its selection group.
#pragma once

#include <QVariantMap>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/snapshot.h"

namespace tessel {

enum class WidgetMetric { remaining, used, reset, cost, tokens };
enum class WidgetPeriod { today, week, month };

namespace Metric {
inline constexpr WidgetMetric all[] = {WidgetMetric::remaining, WidgetMetric::used,
                                       WidgetMetric::reset, WidgetMetric::cost,
                                       WidgetMetric::tokens};
std::string_view rawValue(WidgetMetric metric);
std::string_view displayName(WidgetMetric metric);
// Nothing for a text that names no case.
std::optional<WidgetMetric> fromRaw(std::string_view raw);
} // namespace Metric

namespace Period {
inline constexpr WidgetPeriod all[] = {WidgetPeriod::today, WidgetPeriod::week,
                                       WidgetPeriod::month};
std::string_view rawValue(WidgetPeriod period);
std::string_view label(WidgetPeriod period);
std::optional<WidgetPeriod> fromRaw(std::string_view raw);
} // namespace Period

struct SubscriptionEntity {
    std::string id;   // Quota::id()
    std::string name; // shown only

    bool operator==(const SubscriptionEntity&) const = default;
};

struct ConfigurationIntent {
    bool followsAppSettings = true;
    // Absent: none chosen (all subscriptions); present and empty is a choice of its own.
    std::optional<std::vector<SubscriptionEntity>> subscriptions;
    WidgetMetric metric = WidgetMetric::remaining;
    WidgetPeriod period = WidgetPeriod::today;

    // "selection.all", or "selection." and the chosen ids, sorted by code point after NFC,
    // ";"-joined.
    std::string selectionKey() const;

    // The host's plain form; entities come back with their ids only.
    static ConfigurationIntent fromVariantMap(const QVariantMap& map);
    QVariantMap toVariantMap() const;
};

// Lists the subscriptions of the stored snapshot, never the gateway's.
namespace SubscriptionQuery {
std::vector<SubscriptionEntity> entitiesOf(const Snapshot& snapshot);
std::vector<SubscriptionEntity> suggestedEntities();
std::vector<SubscriptionEntity> entities(const std::vector<std::string>& ids);
} // namespace SubscriptionQuery

} // namespace tessel
