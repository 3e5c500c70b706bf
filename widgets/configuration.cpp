#include "widgets/configuration.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "storage/snapshot_store.h"

namespace tessel {

namespace {

struct MetricCase {
    WidgetMetric metric;
    std::string_view raw;
    std::string_view name;
};
constexpr MetricCase metricCases[] = {
    {WidgetMetric::remaining, "remaining", "剩余额度"}, {WidgetMetric::used, "used", "已用额度"},
    {WidgetMetric::reset, "reset", "重置时间"},         {WidgetMetric::cost, "cost", "估算费用"},
    {WidgetMetric::tokens, "tokens", "Token"},
};

struct PeriodCase {
    WidgetPeriod period;
    std::string_view raw;
    std::string_view label;
};
constexpr PeriodCase periodCases[] = {
    {WidgetPeriod::today, "today", "今日"},
    {WidgetPeriod::week, "week", "7 日"},
    {WidgetPeriod::month, "month", "30 日"},
};

std::string nfc(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status))
        return text;
    const icu::UnicodeString normalized =
        normalizer->normalize(icu::UnicodeString::fromUTF8(text), status);
    if (U_FAILURE(status))
        return text;
    std::string out;
    return normalized.toUTF8String(out);
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

std::string_view Metric::rawValue(WidgetMetric metric) {
    return metricCases[int(metric)].raw;
}

std::string_view Metric::displayName(WidgetMetric metric) {
    return metricCases[int(metric)].name;
}

std::optional<WidgetMetric> Metric::fromRaw(std::string_view raw) {
    for (const MetricCase& c : metricCases)
        if (c.raw == raw)
            return c.metric;
    return std::nullopt;
}

std::string_view Period::rawValue(WidgetPeriod period) {
    return periodCases[int(period)].raw;
}

std::string_view Period::label(WidgetPeriod period) {
    return periodCases[int(period)].label;
}

std::optional<WidgetPeriod> Period::fromRaw(std::string_view raw) {
    for (const PeriodCase& c : periodCases)
        if (c.raw == raw)
            return c.period;
    return std::nullopt;
}

std::string ConfigurationIntent::selectionKey() const {
    if (!subscriptions)
        return "selection.all";
    // UTF-8 byte order is code-point order. Canonically equal ids that differ in bytes fall
    // back to their bytes, so the pick order never changes the key.
    std::vector<std::pair<std::string, const std::string*>> ids;
    ids.reserve(subscriptions->size());
    for (const SubscriptionEntity& entity : *subscriptions)
        ids.emplace_back(nfc(entity.id), &entity.id);
    std::sort(ids.begin(), ids.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : *a.second < *b.second;
    });
    std::string key = "selection.";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i > 0)
            key += ';';
        key += *ids[i].second;
    }
    return key;
}

ConfigurationIntent ConfigurationIntent::fromVariantMap(const QVariantMap& map) {
    ConfigurationIntent intent;
    if (const QVariant follows = map.value(QStringLiteral("followsAppSettings"));
        follows.isValid() && !follows.isNull())
        intent.followsAppSettings = follows.toBool();
    if (const QVariant chosen = map.value(QStringLiteral("subscriptions"));
        chosen.isValid() && !chosen.isNull()) {
        std::vector<SubscriptionEntity> entities;
        for (const QString& id : chosen.toStringList())
            entities.push_back({id.toStdString(), {}});
        intent.subscriptions = std::move(entities);
    }
    intent.metric = Metric::fromRaw(map.value(QStringLiteral("metric")).toString().toStdString())
                        .value_or(WidgetMetric::remaining);
    intent.period = Period::fromRaw(map.value(QStringLiteral("period")).toString().toStdString())
                        .value_or(WidgetPeriod::today);
    return intent;
}

QVariantMap ConfigurationIntent::toVariantMap() const {
    QVariantMap map{
        {QStringLiteral("followsAppSettings"), followsAppSettings},
        {QStringLiteral("metric"), qs(std::string(Metric::rawValue(metric)))},
        {QStringLiteral("period"), qs(std::string(Period::rawValue(period)))},
    };
    if (subscriptions) {
        QStringList ids;
        for (const SubscriptionEntity& entity : *subscriptions)
            ids << qs(entity.id);
        map.insert(QStringLiteral("subscriptions"), ids);
    }
    return map;
}

std::vector<SubscriptionEntity> SubscriptionQuery::entitiesOf(const Snapshot& snapshot) {
    std::vector<SubscriptionEntity> entities;
    entities.reserve(snapshot.quotas.size());
    for (const Quota& quota : snapshot.quotas) {
        std::string name = quota.title();
        if (quota.plan)
            (name += " \u00b7 ") += *quota.plan;
        entities.push_back({quota.id(), std::move(name)});
    }
    return entities;
}

std::vector<SubscriptionEntity> SubscriptionQuery::suggestedEntities() {
    return entitiesOf(SnapshotStore().load());
}

std::vector<SubscriptionEntity> SubscriptionQuery::entities(const std::vector<std::string>& ids) {
    std::vector<SubscriptionEntity> all = suggestedEntities();
    const std::unordered_set<std::string_view> wanted(ids.begin(), ids.end());
    std::erase_if(
        all, [&wanted](const SubscriptionEntity& entity) { return !wanted.contains(entity.id); });
    return all;
}

} // namespace tessel
