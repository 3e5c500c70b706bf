#include "widgets/plugin.h"

#include "widget_api/desktop_widget.h"
#include "widgets/configuration.h"
#include "widgets/plugin_entry.h"
#include "widgets/widget_content.h"

namespace tessel {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QList<widget::Entity> toEntities(const std::vector<SubscriptionEntity>& list) {
    QList<widget::Entity> out;
    out.reserve(qsizetype(list.size()));
    for (const SubscriptionEntity& entity : list)
        out.push_back({qs(entity.id), qs(entity.name)});
    return out;
}

} // namespace

widget::WidgetDescription TesselWidgetBundle::description() const {
    return {
        qs(DesktopWidget::kind),
        QStringLiteral("Tessel Widget"),
        QStringLiteral("订阅额度、用量与趋势。点击小号组件的订阅名切换；更多窗口在主应用查看。"),
        {widget::Family::Small, widget::Family::Medium, widget::Family::Large},
        QStringLiteral("Tessel 小组件")};
}

QList<widget::Parameter> TesselWidgetBundle::parameters() const {
    using Type = widget::Parameter::Type;
    widget::Parameter follows{
        QStringLiteral("followsAppSettings"),
        QStringLiteral("跟随主应用设置"),
        Type::Flag,
        {},
        true,
        {},
        {QStringLiteral("subscriptions"), QStringLiteral("metric"), QStringLiteral("period")},
        QStringLiteral("开启时，订阅、指标和时间范围取自主应用的“小组件展示设置”。")};
    widget::Parameter subscriptions{QStringLiteral("subscriptions"),
                                    QStringLiteral("订阅（不选则显示全部）"),
                                    Type::EntityList,
                                    QStringLiteral("订阅"),
                                    {},
                                    {}};
    widget::Parameter metric{QStringLiteral("metric"), QStringLiteral("小号指标"),  Type::Choice,
                             QStringLiteral("指标"),   QStringLiteral("remaining"), {}};
    for (WidgetMetric m : Metric::all)
        metric.options.push_back({qs(Metric::rawValue(m)), qs(Metric::displayName(m))});
    widget::Parameter period{QStringLiteral("period"),   QStringLiteral("时间范围"), Type::Choice,
                             QStringLiteral("时间范围"), QStringLiteral("today"),    {}};
    for (WidgetPeriod p : Period::all)
        period.options.push_back({qs(Period::rawValue(p)), qs(Period::label(p))});
    return {follows, subscriptions, metric, period};
}

QList<widget::Entity> TesselWidgetBundle::suggestedEntities(const QString& parameterKey) const {
    if (parameterKey != QLatin1String("subscriptions"))
        return {};
    return toEntities(SubscriptionQuery::suggestedEntities());
}

QList<widget::Entity> TesselWidgetBundle::entities(const QString& parameterKey,
                                                   const QStringList& ids) const {
    if (parameterKey != QLatin1String("subscriptions"))
        return {};
    std::vector<std::string> wanted;
    wanted.reserve(std::size_t(ids.size()));
    for (const QString& id : ids)
        wanted.push_back(id.toStdString());
    return toEntities(SubscriptionQuery::entities(wanted));
}

widget::Entry TesselWidgetBundle::placeholder(const widget::Context&) const {
    return PluginEntry::wrap(Provider::placeholder());
}

widget::Entry TesselWidgetBundle::snapshot(const QVariantMap& configuration,
                                           const widget::Context&) const {
    return PluginEntry::wrap(
        Provider::snapshot(ConfigurationIntent::fromVariantMap(configuration)));
}

widget::Timeline TesselWidgetBundle::timeline(const QVariantMap& configuration,
                                              const widget::Context&) const {
    Timeline timeline = Provider::timeline(ConfigurationIntent::fromVariantMap(configuration));
    widget::Timeline out;
    out.after = PluginEntry::dateTime(timeline.after);
    for (Entry& entry : timeline.entries)
        out.entries.push_back(PluginEntry::wrap(std::move(entry)));
    return out;
}

std::unique_ptr<widget::WidgetView>
TesselWidgetBundle::createView(const widget::Entry& entry, widget::Family family,
                               const widget::ViewActions& actions, QWidget* parent) const {
    return PluginEntry::view(entry, family, actions, parent);
}

} // namespace tessel
